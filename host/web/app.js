// The browser UI of zvhost. State lives on the server: this page shows what
// the event stream publishes (tree, open page, pipes, displays, message
// box, log) and sends the user's actions, one at a time and in order.
// Everything from the station is put in the page as text (textContent),
// never as markup.
'use strict';

const DU = 2;  // pixels per dialog unit, across and down

const view = {
  tree: null,       // the published tree
  page: null,       // the published page
  pipes: null,
  displays: null,
  selected: null,   // the selected node's path
  dialogKey: '',    // which page the drawn controls belong to
  controls: [],     // per control of the drawn page: {state, element, input}
  shown: new Map(), // display name -> {figure, loading, generation, drawing, solid}
  boxId: 0,
  boxPending: 0,    // the box shown and not answered yet
  online: false,    // the event stream is open
  control: null,    // who holds control: {holding, holder, you, watchers}
  outcome: 0,       // the last Apply or Reload outcome shown
  runNotes: [],     // what the running mode printed since it started
};

// This browser, as the server tells browsers apart: it sends this with every
// action and with its event stream. Not a secret: who holds control is
// decided by the server, and a page that is not its holder only watches.
const clientId = Array.from(crypto.getRandomValues(new Uint8Array(12)),
                            (b) => b.toString(16).padStart(2, '0')).join('');

// Counts of pictures shown per display, for tests and measurements.
window.zvDisplayUpdates = {};

function el(tag, props = {}, children = []) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'text') node.textContent = value;
    else if (key === 'class') node.className = value;
    else if (key.startsWith('data-') || key.startsWith('aria-') || key === 'role') node.setAttribute(key, value);
    else node[key] = value;
  }
  for (const child of children) node.append(child);
  return node;
}

// ---- Talking to the server -------------------------------------------------------------

let chain = Promise.resolve();

// Runs `job` after every job queued before it.
function enqueue(job) {
  chain = chain.then(job).catch((e) => logLine({event: 'error', text: `the page failed: ${e.message || e}`}));
  return chain;
}

async function post(path, body) {
  let response;
  try {
    response = await fetch(path, {
      method: 'POST',
      headers: {'Content-Type': 'application/json', 'X-Zv-Client': clientId},
      body: JSON.stringify(body),
    });
  } catch (e) {
    // The stream's banner says the server is gone; this says what was lost.
    showStatus('Not sent: the server does not answer.', 'error');
    return {ok: false, answer: {}};
  }
  let answer = {};
  try { answer = await response.json(); } catch (e) { answer = {}; }
  if (!response.ok) {
    const text = answer.error || `the server answered ${response.status}`;
    logLine({event: 'refused', text});
    showStatus(`Refused: ${text}`, 'error');
  }
  return {ok: response.ok, answer};
}

function act(body) { return post('/api/action', body); }

// Typing: each control keeps only its latest text until its turn comes.
const pendingText = new Map();
function queueType(id, text) {
  const waiting = pendingText.has(id);
  pendingText.set(id, text);
  if (waiting) return;
  enqueue(() => {
    const latest = pendingText.get(id);
    pendingText.delete(id);
    return act({action: 'type', control: id, text: latest});
  });
}

// ---- The tree ----------------------------------------------------------------------

// A node's path below its parent's: a sensor's name, or its group and name
// when another group has a sensor of the same name.
function nodeLabel(node) {
  return node.parent && node.path.startsWith(`${node.parent}/`) ? node.path.slice(node.parent.length + 1) : node.path;
}

function renderTree() {
  const tree = document.getElementById('tree');
  const nodes = (view.tree && view.tree.nodes) || [];
  const children = new Map();
  for (const node of nodes) {
    const parent = node.parent || '';
    if (!children.has(parent)) children.set(parent, []);
    children.get(parent).push(node);
  }
  const list = (parent) => {
    const ul = el('ul', {role: parent === '' ? 'tree' : 'group'});
    for (const node of children.get(parent) || []) {
      const button = el('button', {type: 'button', class: 'node', 'data-path': node.path}, [
        nodeLabel(node), el('span', {class: 'kind', text: node.kind + (node.limited ? ', limited' : '') +
                                                     (node.offline ? ', offline' : '')}),
      ]);
      // A server on the network that does not answer: said in words, and a
      // class for the style.
      if (node.offline) button.classList.add('offline');
      // Why a node offers less than its kind does (settings that cannot be
      // read, a sensor the pages cannot find): a mark, the reason on hover.
      if (node.reason) {
        const mark = el('span', {class: 'reason', text: '!', 'aria-hidden': 'true'});
        // Set through the style object (the page allows no style attributes),
        // in the button's own colour, which keeps its contrast when selected.
        Object.assign(mark.style, {fontWeight: 'bold', marginLeft: '4px'});
        button.append(mark);
        button.title = node.reason;
      }
      if (node.path === view.selected) button.classList.add('selected');
      button.addEventListener('click', () => selectNode(node.path));
      const li = el('li', {role: 'treeitem'}, [button]);
      if (children.has(node.path)) li.append(list(node.path));
      ul.append(li);
    }
    return ul;
  };
  tree.replaceChildren(list(''));
  if (view.selected && !findNode(view.selected)) view.selected = null;
  renderTabs();
}

function findNode(path) {
  const nodes = (view.tree && view.tree.nodes) || [];
  return nodes.find((n) => n.path === path) || null;
}

function pageName(page) { return page.name || `Page ${page.id}`; }

// Whether the open page holds edits not applied yet, as the server knows it
// now (the stream may lag behind the last action's answer).
async function pageModifiedNow() {
  try {
    const response = await fetch('/api/state');
    if (!response.ok) return false;
    const page = (await response.json()).page;
    return !!(page && page.open && page.modified);
  } catch (e) {
    return false;
  }
}

// Asks the operator what to do with a page's unapplied edits before it is
// left: 'Apply', 'Discard' or 'Stay'.
function askLeave(page) {
  const dialog = document.getElementById('leave');
  document.getElementById('leave-text').textContent =
      `${pageName(page)} of ${page.node} has changes that are not applied.`;
  return new Promise((resolve) => {
    const done = (answer) => {
      dialog.onclose = null;
      if (dialog.open) dialog.close();
      resolve(answer);
    };
    for (const button of dialog.querySelectorAll('button[data-answer]')) {
      button.onclick = () => done(button.dataset.answer);
    }
    // Escape keeps the operator where they are.
    dialog.oncancel = (e) => { e.preventDefault(); done('Stay'); };
    dialog.showModal();
    dialog.querySelector('button[data-answer="Apply"]').focus();
  });
}

// Whether the open page may be left: it holds no unapplied edits, or the
// operator applied them (and Apply took them) or discarded them. Pages left
// for a tab of the same node stay created, so their edits are discarded by
// reloading them; a node's pages are destroyed when it is left.
async function mayLeave(sameNode) {
  const page = view.page;
  if (!(page && page.open) || !(await pageModifiedNow())) return true;
  const answer = await askLeave(page);
  if (answer === 'Apply') {
    const {ok, answer: reply} = await act({action: 'apply'});
    return ok && !reply.modified;
  }
  if (answer === 'Discard') return sameNode ? (await act({action: 'reload'})).ok : true;
  return false;
}

function selectNode(path) {
  const open = view.page && view.page.open ? view.page : null;
  if (open && open.node === path) return;
  enqueue(async () => {
    if (!(await mayLeave(false))) return;
    view.selected = path;
    renderTree();
    const node = findNode(path);
    if (!node) return;
    if (node.pages.length > 0) await post('/api/open', {node: path, page: node.pages[0].id});
    else await post('/api/close', {});
  });
}

function openPage(path, id) {
  const open = view.page && view.page.open ? view.page : null;
  if (open && open.node === path && open.id === id) return;
  enqueue(async () => {
    if (!(await mayLeave(open && open.node === path))) return;
    await post('/api/open', {node: path, page: id});
  });
}

function renderTabs() {
  const tabs = document.getElementById('tabs');
  const node = view.selected ? findNode(view.selected) : null;
  const open = view.page && view.page.open ? view.page : null;
  const buttons = [];
  for (const page of node ? node.pages : []) {
    const current = open && open.node === node.path && open.id === page.id;
    const tab = el('button', {type: 'button', role: 'tab', 'data-page': String(page.id),
                              'aria-selected': current ? 'true' : 'false', text: pageName(page)});
    tab.addEventListener('click', () => openPage(node.path, page.id));
    buttons.push(tab);
  }
  tabs.replaceChildren(...buttons);
}

// ---- The status line by Apply and Reload -----------------------------------------------------

function showStatus(text, kind = '') {
  const status = document.getElementById('status');
  status.textContent = text;
  status.className = kind;
}

// What the last Apply or Reload did: the files it wrote, or why nothing was
// written, with what the page reported during it.
function showOutcome(o) {
  const said = [...(o.errors || []), ...(o.texts || [])].join(' ');
  const files = o.files || [];
  let text;
  if (o.action === 'apply') {
    if (!o.ok) text = `Apply failed, nothing written: ${said || `status ${o.status}`}`;
    else if (files.length) text = `${files.join(', ')} written.${said ? ' ' + said : ''}`;
    else text = `Applied: no file needed writing.${said ? ' ' + said : ''}`;
  } else {
    text = o.ok ? `Reloaded from the files.${said ? ' ' + said : ''}`
                : `Reload failed: ${said || `status ${o.status}`}`;
  }
  view.outcomeText = said;
  showStatus(text, o.ok && !(o.errors || []).length ? 'done' : 'error');
}

// ---- Pipes, Play and Stop ------------------------------------------------------------------

function renderRunNotes() {
  const notes = document.getElementById('run-notes');
  const running = view.pipes && view.pipes.running;
  const mode = view.pipes ? view.pipes.client.mode : '';
  notes.replaceChildren(...view.runNotes.map((t) => el('div', {text: `${mode}: ${t}`})));
  notes.hidden = !running || view.runNotes.length === 0;
}

function bytesText(n) {
  return n >= 1048576 ? `${(n / 1048576).toFixed(1)} MB` : n >= 1024 ? `${(n / 1024).toFixed(1)} kB` : `${n} bytes`;
}

// The capture as it is: recording (batches, bytes of whole segments, the
// segment files), or the last one with the command that replays it.
function renderRecording() {
  const box = document.getElementById('recording');
  const r = view.pipes && view.pipes.recording;
  box.hidden = !r;
  if (!r) return;
  const files = el('ul', {class: 'segments'}, (r.segments || []).map((p) => el('li', {text: p})));
  const head = r.on
      ? `Recording into ${r.folder}: ${r.batches} batches, ${bytesText(r.bytes)} in ${r.segments.length} whole segments`
      : `Capture ${r.folder}: ${r.batches} batches, ${bytesText(r.bytes)} in ${r.segments.length} segments`;
  const parts = [el('strong', {text: head}), files];
  if (!r.on) {
    parts.push(el('p', {}, ['Replay it: ', el('code', {text: `zvhost run --files DIR --input ${r.folder}`}), ' ',
                            el('button', {type: 'button', class: 'replay', text: 'Replay here',
                                          onclick: () => window.zvTimeline.replay(r.folder)})]));
  }
  box.classList.toggle('on', !!r.on);
  box.replaceChildren(...parts);
}

function renderPipes() {
  const pipes = view.pipes;
  const box = document.getElementById('pipes');
  if (!pipes) return;
  renderRunNotes();
  renderRecording();
  if (window.zvTimeline) window.zvTimeline.render(pipes);
  // Pictures of a mode that does not run are its last, not live ones.
  document.getElementById('display-list').classList.toggle('frozen', !pipes.running);
  const pipe = (label, p) => el('span', {class: p.enabled ? 'pipe' : 'pipe off',
                                         text: `${label}: ${p.mode || 'no mode'}${p.enabled ? '' : ' (disabled)'}`});
  const items = [pipe('client', pipes.client)];
  for (const s of pipes.stations) items.push(pipe(`SN${s.server}`, s));
  if (pipes.capture) items.push(el('span', {class: 'pipe', text: 'capturing'}));
  box.replaceChildren(...items);
  document.getElementById('play').disabled = pipes.playing;
  document.getElementById('stop').disabled = !pipes.playing;
  document.getElementById('running').textContent =
      pipes.running ? `running ${pipes.client.mode}` : pipes.playing ? 'playing (nothing runs)' : 'stopped';
}

// ---- Displays ----------------------------------------------------------------------------

function renderTable(figure, table) {
  const rows = [el('tr', {}, (table.columns || []).map((c) => el('th', {text: c})))];
  for (const row of table.rows || []) rows.push(el('tr', {}, row.map((v) => el('td', {text: v}))));
  putContent(figure, el('table', {class: 'content'}, rows));
}

function putContent(figure, content) {
  const old = figure.querySelector('.content');
  if (old) old.replaceWith(content); else figure.append(content);
}

// Fetches what the display shows now, as numbers; one fetch at a time per
// display, so a slow connection shows fewer updates rather than queueing
// them. The next fetch starts while this one is drawn.
async function loadDisplay(name) {
  const shown = view.shown.get(name);
  if (!shown || shown.loading) return;
  shown.loading = true;
  let generation = 0;
  let body = null;
  try {
    const form = HOST_PICTURES ? '&form=png' : '';
    const response = await fetch(`/api/display?name=${encodeURIComponent(name)}${form}`);
    if (response.ok) {
      generation = Number(response.headers.get('X-Generation') || 0);
      const png = (response.headers.get('Content-Type') || '').startsWith('image/');
      body = png ? {picture: await createImageBitmap(await response.blob())} : await response.json();
    }
  } catch (e) {
    body = null;
  }
  shown.loading = false;
  if (body === null || view.shown.get(name) !== shown) return;
  shown.fetched = Math.max(shown.fetched, generation);
  if (shown.wanted > shown.fetched) loadDisplay(name);
  if (generation <= shown.generation) {
    if (body.picture) body.picture.close();
    return;
  }
  if (body.picture) showPicture(shown, body.picture);
  else showContent(shown, body.content || {}, generation);
  shown.generation = generation;
  shown.figure.setAttribute('data-generation', String(generation));
  shown.figure.querySelector('.generation').textContent = `#${generation}`;
  window.zvDisplayUpdates[name] = (window.zvDisplayUpdates[name] || 0) + 1;
}

// The pictures the host draws (PNG), as the page showed them before it drew
// the numbers itself: kept to compare the two (the address's ?pictures=png).
const HOST_PICTURES = new URLSearchParams(window.location.search).get('pictures') === 'png';

function showPicture(shown, bitmap) {
  let canvas = shown.figure.querySelector('canvas.content');
  if (!canvas) {
    canvas = el('canvas', {class: 'content picture', role: 'img', 'aria-label': shown.name});
    putContent(shown.figure, canvas);
  }
  if (canvas.width !== bitmap.width || canvas.height !== bitmap.height) {
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
  }
  canvas.getContext('2d').drawImage(bitmap, 0, 0);
  bitmap.close();
}

// Draws a display's content: a table as a table, pictures on its canvas
// (made once and kept, with its zoom), a polar model in 3D as well.
function showContent(shown, content, generation) {
  if (shown.drawing && !['plot', 'image', 'polar model'].includes(content.kind)) {
    shown.drawing.dispose();
    shown.drawing = null;
  }
  if (content.kind === 'table') {
    renderTable(shown.figure, content);
  } else if (content.kind === 'plot' || content.kind === 'image' || content.kind === 'polar model') {
    if (!shown.drawing) {
      shown.drawing = new zvCanvas.DisplayCanvas(shown.name);
      putContent(shown.figure, shown.drawing.element);
    }
    shown.drawing.show(content);
  } else {
    putContent(shown.figure, el('pre', {class: 'content', text: JSON.stringify(content, null, 1)}));
  }
  if (content.kind === 'polar model' && window.zvView3d) {
    if (!shown.solid) {
      shown.solid = new zvView3d.SolidView(shown.name);
      shown.figure.append(shown.solid.element);
    }
    shown.solid.add(content, generation);
  }
}

function renderDisplays() {
  const displays = view.displays;
  if (!displays) return;
  document.getElementById('displays-title').textContent =
      displays.mode ? `Displays of ${displays.mode}` : 'Displays (no mode)';
  const list = document.getElementById('display-list');
  const key = `${displays.mode}|${displays.displays.map((d) => d.name).join('|')}`;
  if (list.dataset.key !== key) {
    list.dataset.key = key;
    for (const shown of view.shown.values()) {
      if (shown.drawing) shown.drawing.dispose();
      if (shown.solid) shown.solid.dispose();
    }
    view.shown.clear();
    const figures = [];
    for (const d of displays.displays) {
      // The host's own picture of it, as a file.
      const download = el('a', {class: 'download', text: 'Download',
                                href: `/api/display?name=${encodeURIComponent(d.name)}&form=download`,
                                'aria-label': `Download the picture of ${d.name}`});
      download.setAttribute('download', '');
      const figure = el('figure', {class: 'display', 'data-display': d.name}, [
        el('figcaption', {}, [d.name, el('span', {class: 'generation'}), el('span', {class: 'frozen-mark', text: 'not live'}),
                              download]),
        el('div', {class: 'content empty', text: 'nothing yet'}),
      ]);
      view.shown.set(d.name, {figure, name: d.name, kind: d.kind, loading: false, generation: 0, fetched: 0, wanted: 0,
                              drawing: null, solid: null});
      figures.push(figure);
    }
    list.replaceChildren(...figures);
  }
  for (const d of displays.displays) {
    const shown = view.shown.get(d.name);
    shown.wanted = d.has ? d.generation : 0;
    if (!d.has && shown.fetched) {
      // The run started again (a replay's seek back): what it showed is gone.
      if (shown.drawing) shown.drawing.dispose();
      shown.drawing = null;
      if (shown.solid) {
        shown.solid.dispose();
        shown.solid.element.remove();
        shown.solid = null;
      }
      putContent(shown.figure, el('div', {class: 'content empty', text: 'nothing yet'}));
      shown.fetched = 0;
    }
    if (d.has && d.generation > shown.fetched) loadDisplay(d.name);
  }
}

// ---- Log and message boxes -------------------------------------------------------------------

function pipeName(e) { return e.pipe === 'client' ? 'client pipe' : `station pipe SN${e.server}`; }

const LAYOUTS = ['one display', 'two displays side by side', 'two displays one above the other', 'four displays'];

// A log line in words.
function describe(e) {
  switch (e.event) {
    case 'report': return `${e.kind === 'error' ? 'Error' : 'Note'}: ${e.text}`;
    case 'messagebox': return `Message box "${e.text}" answered ${e.answer}`;
    case 'console': return `${e.mode ? e.mode + ' ' : ''}printed: ${e.text.replace(/\n$/, '')}`;
    case 'mode': return `The ${pipeName(e)} switched to ${e.mode || 'no mode'}`;
    case 'enabled': return `The ${pipeName(e)} was ${e.on ? 'enabled' : 'disabled'}`;
    case 'parameters': return `Parameters of ${e.mode} on the ${pipeName(e)}: ` +
        ((e.names || []).map((n, i) => `${n} ${e.values[i]}`).join(', ') || 'none');
    case 'file': return `File ${e.path} ${e.change}${e.size !== undefined ? ` (${e.size} bytes)` : ''}` +
        (e.cut ? `; ${e.cut} bytes after its last whole batch cut` : '');
    case 'page':
      if (e.action === 'open') return `Page "${e.name}" (${e.id}) opened`;
      return `Page ${e.action} ${e.status > 0 ? 'done' : `failed (status ${e.status})`}`;
    case 'play': return e.on ? 'Play' : 'Stop';
    case 'played': return `${e.mode} played ${e.batches} batches in ${e.seconds} s`;
    case 'handler': return `${e.mode} ${e.phase} ${e.status > 0 ? 'done' : `failed (status ${e.status})`}` +
        (e.reason ? `: ${e.reason}` : '');
    case 'notify': return 'The page changed the station: tree rebuilt';
    case 'modified': return 'The page holds changes not applied yet';
    case 'capture':
      if (e.segmentSize !== undefined) return `Capture segments of at most ${e.segmentSize} bytes`;
      return e.on ? `Capture started${e.folder ? ` into ${e.folder}` : ''}`
                  : `Capture stopped${e.folder ? `: ${e.folder}` : ''}`;
    case 'layout': return `Display layout: ${LAYOUTS[e.layout] || `layout ${e.layout}`}`;
    case 'listener': return `Display ${e.display} ${e.added ? 'now tells the page of its changes' : 'no longer tells the page'}`;
    case 'written': return `Wrote ${e.path}`;
    case 'error': return `Error: ${e.text}`;
    case 'refused': return `Refused: ${e.text}`;
    case 'plugin': return `The plug-in lacks ${e.missing}`;
    case 'skipped': return `(${e.count} older entries not shown)`;
    case 'server': return `Server SN${e.server} ${e.change}: ${e.text}`;
    default: return `${e.event}${e.text ? `: ${e.text}` : ''}`;
  }
}

function clock(ms) {
  const t = new Date(ms);
  const two = (n) => String(n).padStart(2, '0');
  return `${two(t.getHours())}:${two(t.getMinutes())}:${two(t.getSeconds())}.${String(t.getMilliseconds()).padStart(3, '0')}`;
}

function logLine(e) {
  const log = document.getElementById('log');
  const kind = e.event === 'error' || e.event === 'refused' || (e.event === 'report' && e.kind === 'error')
      ? 'error' : e.event === 'messagebox' ? 'box' : '';
  const stick = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  // When and where: the server's time of the event, and the node of the
  // page it came from (or the mode whose run it belongs to).
  const where = e.node || e.mode || '';
  log.append(el('li', {class: kind, 'data-event': e.event}, [
    el('time', {text: clock(e.time || Date.now())}), el('span', {class: 'where', text: where}),
    el('span', {text: describe(e)}),
  ]));
  while (log.children.length > 300) log.firstChild.remove();
  if (stick) log.scrollTop = log.scrollHeight;
  // What the run prints (a warning about its settings, most often) stays
  // in view while that run goes on.
  // A new run (Play, or another mode) starts with none.
  if ((e.event === 'play' && e.on) || (e.event === 'mode' && e.pipe === 'client')) view.runNotes = [];
  if (e.event === 'console') {
    const text = e.text.replace(/\n$/, '');
    if (!view.runNotes.includes(text)) view.runNotes.push(text);
    renderRunNotes();
  }
  // The page's reports also go to the status line, unless the outcome of
  // Apply or Reload shown there already says them.
  if (e.event === 'report' && !(view.outcomeText || '').includes(e.text)) {
    showStatus(e.text, e.kind === 'error' ? 'error' : '');
  }
}

function renderBox(box) {
  const dialog = document.getElementById('messagebox');
  if (!box) {
    view.boxPending = 0;
    if (dialog.open) dialog.close();
    view.boxId = 0;
    return;
  }
  if (view.boxId === box.id && dialog.open) return;
  view.boxId = box.id;
  view.lastBox = box;
  dialog.setAttribute('data-box', String(box.id));
  document.getElementById('messagebox-caption').textContent = box.caption || 'Message';
  document.getElementById('messagebox-text').textContent = box.text;
  const buttons = box.buttons.map((answer) => {
    const b = el('button', {type: 'button', 'data-answer': answer, text: answer});
    // Answered directly: the page's call waits for it, so it must not queue.
    b.addEventListener('click', () => answerBox(box.id, answer));
    return b;
  });
  document.getElementById('messagebox-buttons').replaceChildren(...buttons);
  view.boxPending = box.id;
  view.boxButtons = box.buttons;
  // A watcher sees the box without being held by it: the browser in
  // control answers, and "Take control" stays in reach.
  const holding = !view.control || view.control.holding;
  for (const b of buttons) b.disabled = !holding;
  if (dialog.open && dialog.matches(':modal') !== holding) dialog.close();
  if (!dialog.open) {
    if (holding) dialog.showModal(); else dialog.show();
  }
  // The first button is the default: Enter takes it.
  if (holding) buttons[0].focus();
}

async function answerBox(id, answer) {
  const dialog = document.getElementById('messagebox');
  const {ok} = await post('/api/messagebox', {id, answer});
  if (!ok) return;  // a watcher's answer, or a box already answered: the refusal says which
  view.boxPending = 0;
  if (dialog.open && view.boxId === id) dialog.close();
}

// ---- Connection and control ------------------------------------------------------------------

// What this browser may do: act while its stream is up and it holds
// control; otherwise it watches, its controls out of reach.
function renderAccess() {
  const c = view.control;
  const holding = view.online && (!c || c.holding);
  for (const id of ['tree', 'pages', 'run', 'timeline']) document.getElementById(id).inert = !holding;
  document.body.classList.toggle('watching', !holding);
  const who = document.getElementById('control');
  const take = document.getElementById('take-control');
  if (!c || !view.online) {
    who.textContent = '';
    take.hidden = true;
    return;
  }
  const others = c.watchers.filter((w) => w !== c.you);
  const watchers = others.length ? `; watching: ${others.join(', ')}` : '';
  who.textContent = c.holding ? `You (${c.you}) hold control${watchers}`
                              : `${c.holder || 'Nobody'} holds control; you (${c.you}) watch${watchers}`;
  take.hidden = c.holding;
}

function showBanner(text) {
  const banner = document.getElementById('banner');
  banner.textContent = text;
  banner.hidden = !text;
}

const RETRY_MS = 3000;
let events = null;

// One event stream; when it ends the page says why and comes back by itself.
function connect() {
  const status = document.getElementById('connection');
  events = new EventSource(`/api/events?client=${clientId}`);
  const stream = events;
  const on = (name, handle) => stream.addEventListener(name, (m) => handle(JSON.parse(m.data)));
  stream.onopen = () => {
    // A new stream starts with everything again, the log too.
    document.getElementById('log').replaceChildren();
    view.online = true;
    status.textContent = 'connected';
    status.className = 'up';
    showBanner('');
    renderAccess();
  };
  stream.onerror = async () => {
    view.online = false;
    status.textContent = 'reconnecting';
    status.className = 'down';
    renderAccess();
    if (stream.readyState !== EventSource.CLOSED) {
      // The browser tries again by itself.
      showBanner('The server does not answer: the controls are off until it is back. Trying again…');
      return;
    }
    // Refused outright: turned away, or the server is back but failing.
    let answer = null;
    try {
      const response = await fetch('/api/state');
      answer = response.ok ? 'up' : 'refused';
    } catch (e) {
      answer = null;
    }
    showBanner(answer === 'up'
        ? 'The server turned this browser away: it serves as many browsers as it allows. Trying again…'
        : 'The server does not answer: the controls are off until it is back. Trying again…');
    setTimeout(() => { if (events === stream) connect(); }, RETRY_MS);
  };
  on('tree', (tree) => { view.tree = tree; renderTree(); });
  on('page', (page) => { view.page = page; renderPage(); });
  on('pipes', (pipes) => { view.pipes = pipes; renderPipes(); });
  on('displays', (displays) => { view.displays = displays; renderDisplays(); });
  on('box', renderBox);
  on('log', logLine);
  on('control', (control) => {
    view.control = control;
    renderAccess();
    // The box follows: modal for the browser in control only.
    const box = view.boxPending ? view.boxId : 0;
    if (box) {
      view.boxId = 0;
      renderBox(view.lastBox);
    }
  });
}

document.addEventListener('DOMContentLoaded', () => {
  document.getElementById('play').addEventListener('click', () => enqueue(() => post('/api/play', {on: true})));
  document.getElementById('stop').addEventListener('click', () => enqueue(() => post('/api/play', {on: false})));
  // The edit being typed in is left first, as a click elsewhere would: the
  // page takes its text when it loses the focus.
  const leaveEdit = () => {
    const active = document.activeElement;
    if (active && document.getElementById('page-area').contains(active)) active.blur();
  };
  document.getElementById('apply').addEventListener('click', () => {
    leaveEdit();
    enqueue(() => act({action: 'apply'}));
  });
  document.getElementById('reload').addEventListener('click', () => {
    leaveEdit();
    enqueue(() => act({action: 'reload'}));
  });
  document.getElementById('take-control').addEventListener('click', () => post('/api/control', {}));
  // A message box is answered with one of its buttons: Escape gives the
  // one that declines (Cancel, No), or the only one there is.
  const box = document.getElementById('messagebox');
  box.addEventListener('cancel', (e) => {
    e.preventDefault();
    const buttons = view.boxButtons || [];
    const decline = buttons.find((b) => b === 'Cancel') || buttons.find((b) => b === 'No') ||
        (buttons.length === 1 ? buttons[0] : null);
    if (view.boxPending && decline) answerBox(view.boxPending, decline);
  });
  box.addEventListener('close', () => {
    if (view.boxPending && (!view.control || view.control.holding) && !box.open) box.showModal();
  });
  renderAccess();
  connect();
});
