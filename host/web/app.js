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
  shown: new Map(), // display name -> {figure, loading, generation}
  boxId: 0,
  boxPending: 0,    // the box shown and not answered yet
};

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
  chain = chain.then(job).catch((e) => logLine({event: 'error', text: String(e)}));
  return chain;
}

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: {'Content-Type': 'application/json'},
    body: JSON.stringify(body),
  });
  let answer = {};
  try { answer = await response.json(); } catch (e) { answer = {}; }
  if (!response.ok) {
    logLine({event: 'refused', text: `${path}: ${answer.error || response.status}`});
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
        nodeLabel(node), el('span', {class: 'kind', text: node.limited ? `${node.kind}, limited` : node.kind}),
      ]);
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

function selectNode(path) {
  view.selected = path;
  renderTree();
  const node = findNode(path);
  if (!node) return;
  if (node.pages.length > 0) openPage(path, node.pages[0].id);
  else enqueue(() => post('/api/close', {}));
}

function openPage(path, id) {
  enqueue(() => post('/api/open', {node: path, page: id}));
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

// ---- The page --------------------------------------------------------------------------

function place(element, rect) {
  element.style.left = `${rect[0] * DU}px`;
  element.style.top = `${rect[1] * DU}px`;
  element.style.width = `${rect[2] * DU}px`;
  element.style.height = `${rect[3] * DU}px`;
}

function setOptions(select, items) {
  const now = Array.from(select.options, (o) => o.textContent);
  if (now.length === items.length && now.every((t, i) => t === items[i])) return;
  select.replaceChildren(...items.map((t, i) => el('option', {value: String(i), text: t})));
}

// Makes the element of one control and wires the user's events to actions.
function makeControl(c) {
  const id = c.id;
  let element;
  let input;
  switch (c.kind) {
    case 'static':
      element = el('div', {class: 'static'});
      break;
    case 'groupbox':
      element = el('div', {class: 'groupbox'}, [el('span')]);
      break;
    case 'edit':
      element = input = el('input', {type: 'text', spellcheck: false, autocomplete: 'off'});
      input.addEventListener('input', () => queueType(id, input.value));
      input.addEventListener('blur', () => enqueue(() => act({action: 'blur', control: id})));
      break;
    case 'dropdowncombo': {
      input = el('input', {type: 'text', spellcheck: false, autocomplete: 'off'});
      const list = el('select', {'aria-label': 'items'});
      element = el('div', {class: 'combo'}, [input, list]);
      input.addEventListener('input', () => queueType(id, input.value));
      input.addEventListener('blur', () => enqueue(() => act({action: 'blur', control: id})));
      list.addEventListener('change', () => {
        if (list.selectedIndex >= 0) enqueue(() => act({action: 'select', control: id, index: list.selectedIndex}));
      });
      break;
    }
    case 'dropdownlist':
    case 'listbox':
      element = input = el('select', {class: c.kind === 'listbox' ? 'list' : 'drop'});
      if (c.kind === 'listbox') input.size = Math.max(2, Math.floor(c.rect[3] / 8));
      input.addEventListener('change', () => {
        if (input.selectedIndex >= 0) enqueue(() => act({action: 'select', control: id, index: input.selectedIndex}));
      });
      break;
    case 'button':
      element = input = el('button', {type: 'button'});
      input.addEventListener('click', () => enqueue(() => act({action: 'click', control: id})));
      break;
    case 'checkbox':
    case 'radio':
      input = el('input', {type: c.kind});
      element = el('label', {}, [input, el('span')]);
      // The page decides what a click does; the box shows what it decided.
      input.addEventListener('click', (e) => {
        e.preventDefault();
        enqueue(() => act({action: 'click', control: id}));
      });
      break;
    case 'slider': {
      input = el('input', {type: 'range', step: 1});
      const ticks = el('datalist', {id: `tics-${id}`});
      input.setAttribute('list', ticks.id);
      element = el('div', {class: 'slider'}, [input, ticks]);
      input.addEventListener('pointerdown', () => { input.dataset.dragging = '1'; });
      // The page hears of a slider when it is let go.
      input.addEventListener('change', () => {
        delete input.dataset.dragging;
        enqueue(() => act({action: 'slide', control: id, index: Number(input.value)}));
      });
      break;
    }
    default:
      element = el('div', {class: 'static'});
  }
  element.setAttribute('data-control', String(id));
  element.setAttribute('data-kind', c.kind);
  place(element, c.rect);
  if (input && input !== element) place(input, [0, 0, c.rect[2], c.kind === 'slider' ? c.rect[3] : c.rect[3]]);
  if (input && input !== element) { input.style.position = 'static'; }
  if (c.kind === 'dropdownlist') element.style.height = `${Math.min(c.rect[3], 14) * DU}px`;
  if (c.kind === 'dropdowncombo') element.style.height = `${Math.min(c.rect[3], 14) * DU}px`;
  return {state: null, element, input};
}

function updateControl(entry, c) {
  const {element, input} = entry;
  element.hidden = !c.visible;
  if (input) input.disabled = !c.enabled;
  switch (c.kind) {
    case 'static':
      element.textContent = c.text;
      break;
    case 'groupbox':
      element.firstChild.textContent = c.text;
      break;
    case 'edit':
    case 'dropdowncombo':
      // The text being typed stays until the page has seen it.
      if (!(document.activeElement === input && pendingText.has(c.id)) && input.value !== c.text) input.value = c.text;
      if (c.kind === 'dropdowncombo') {
        const list = element.querySelector('select');
        list.disabled = !c.enabled;
        setOptions(list, c.items || []);
        list.selectedIndex = c.selection;
      }
      break;
    case 'dropdownlist':
    case 'listbox':
      setOptions(input, c.items || []);
      input.selectedIndex = c.selection;
      break;
    case 'button':
      input.textContent = c.text;
      break;
    case 'checkbox':
    case 'radio':
      input.checked = !!c.checked;
      element.lastChild.textContent = c.text;
      break;
    case 'slider': {
      input.min = String(c.range[0]);
      input.max = String(c.range[1]);
      if (!input.dataset.dragging) input.value = String(c.position);
      const ticks = element.querySelector('datalist');
      ticks.replaceChildren(...(c.tics || []).map((t) => el('option', {value: String(t)})));
      break;
    }
    default:
      element.textContent = c.text;
  }
  entry.state = c;
}

function renderPage() {
  const area = document.getElementById('page-area');
  const page = view.page;
  const open = page && page.open;
  document.getElementById('apply').disabled = !open;
  document.getElementById('reload').disabled = !open;
  document.getElementById('modified').hidden = !(open && page.modified);
  document.getElementById('page-title').textContent = open ? `${page.node}: ${pageName(page)} (${page.id})` : '';
  if (open && page.node && findNode(page.node) && view.selected !== page.node) {
    view.selected = page.node;
    renderTree();
  }
  renderTabs();
  if (!open) {
    view.dialogKey = '';
    view.controls = [];
    area.replaceChildren(el('p', {class: 'hint', text: 'Select a node of the station tree.'}));
    return;
  }
  const key = `${page.node}#${page.id}#${page.controls.length}`;
  if (key !== view.dialogKey) {
    view.dialogKey = key;
    pendingText.clear();
    view.controls = page.controls.map(makeControl);
    const dialog = el('div', {class: 'dialog', 'data-page': String(page.id)});
    dialog.style.width = `${page.size[0] * DU}px`;
    dialog.style.height = `${page.size[1] * DU}px`;
    dialog.append(...view.controls.map((c) => c.element));
    area.replaceChildren(dialog);
  }
  page.controls.forEach((c, i) => updateControl(view.controls[i], c));
}

// ---- Pipes, Play and Stop ------------------------------------------------------------------

function renderPipes() {
  const pipes = view.pipes;
  const box = document.getElementById('pipes');
  if (!pipes) return;
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

// Fetches the display's latest picture; one fetch at a time per display, so
// a slow connection shows fewer pictures rather than queueing them. The
// next fetch starts while this picture is decoded and drawn.
async function loadDisplay(name) {
  const shown = view.shown.get(name);
  if (!shown || shown.loading) return;
  shown.loading = true;
  let generation = 0;
  let body = null;
  let image = false;
  try {
    const response = await fetch(`/api/display?name=${encodeURIComponent(name)}`);
    if (response.ok) {
      generation = Number(response.headers.get('X-Generation') || 0);
      image = (response.headers.get('Content-Type') || '').startsWith('image/');
      body = image ? await response.blob() : await response.json();
    }
  } catch (e) {
    body = null;
  }
  shown.loading = false;
  if (body === null || view.shown.get(name) !== shown) return;
  shown.fetched = Math.max(shown.fetched, generation);
  if (shown.wanted > shown.fetched) loadDisplay(name);
  if (generation <= shown.generation) return;
  if (image) {
    // Decoded off the page's thread and drawn at once.
    const bitmap = await createImageBitmap(body);
    if (generation <= shown.generation) {
      bitmap.close();
      return;
    }
    let canvas = shown.figure.querySelector('canvas.content');
    if (!canvas) {
      canvas = el('canvas', {class: `content ${shown.kind}`, role: 'img', 'aria-label': name});
      putContent(shown.figure, canvas);
    }
    if (canvas.width !== bitmap.width || canvas.height !== bitmap.height) {
      canvas.width = bitmap.width;
      canvas.height = bitmap.height;
    }
    canvas.getContext('2d').drawImage(bitmap, 0, 0);
    bitmap.close();
  } else if (body.columns) {
    renderTable(shown.figure, body);
  } else {
    putContent(shown.figure, el('pre', {class: 'content', text: JSON.stringify(body.content || body, null, 1)}));
  }
  shown.generation = generation;
  shown.figure.setAttribute('data-generation', String(generation));
  shown.figure.querySelector('.generation').textContent = `#${generation}`;
  window.zvDisplayUpdates[name] = (window.zvDisplayUpdates[name] || 0) + 1;
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
    view.shown.clear();
    const figures = [];
    for (const d of displays.displays) {
      const figure = el('figure', {class: 'display', 'data-display': d.name}, [
        el('figcaption', {}, [d.name, el('span', {class: 'generation'})]),
        el('div', {class: 'content empty', text: 'nothing yet'}),
      ]);
      view.shown.set(d.name, {figure, kind: d.kind, loading: false, generation: 0, fetched: 0, wanted: 0});
      figures.push(figure);
    }
    list.replaceChildren(...figures);
  }
  for (const d of displays.displays) {
    const shown = view.shown.get(d.name);
    shown.wanted = d.has ? d.generation : 0;
    if (d.has && d.generation > shown.fetched) loadDisplay(d.name);
  }
}

// ---- Log and message boxes -------------------------------------------------------------------

function describe(e) {
  switch (e.event) {
    case 'report': return `${e.kind === 'error' ? 'error' : 'text'}: ${e.text}`;
    case 'messagebox': return `message box "${e.text}": ${e.answer}`;
    case 'console': return `console: ${e.text.replace(/\n$/, '')}`;
    case 'mode': return `${e.pipe} pipe${e.server ? ' SN' + e.server : ''} mode: ${e.mode}`;
    case 'enabled': return `${e.pipe} pipe${e.server ? ' SN' + e.server : ''} ${e.on ? 'enabled' : 'disabled'}`;
    case 'parameters': return `${e.pipe} parameters of ${e.mode}: ` +
        (e.names || []).map((n, i) => `${n}=${e.values[i]}`).join(', ');
    case 'file': return `file ${e.path} ${e.change}` + (e.cut ? ` (${e.cut} bytes after its last whole batch cut)` : '');
    case 'page':
      return e.action === 'open' ? `page ${e.id} "${e.name}" opened on ${e.node}` : `page ${e.action}: ${e.status}`;
    case 'play': return e.on ? 'play' : 'stop';
    case 'handler': return `${e.mode} ${e.phase}: ${e.status}`;
    case 'notify': return 'the page notified the host: tree rebuilt';
    case 'modified': return 'the page holds changes';
    case 'skipped': return `(${e.count} older entries not shown)`;
    default: {
      const rest = Object.assign({}, e);
      delete rest.event;
      delete rest.seq;
      return `${e.event}: ${JSON.stringify(rest)}`;
    }
  }
}

function logLine(e) {
  const log = document.getElementById('log');
  const kind = e.event === 'error' || e.event === 'refused' || (e.event === 'report' && e.kind === 'error')
      ? 'error' : e.event === 'messagebox' ? 'box' : '';
  const stick = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  log.append(el('li', {class: kind, 'data-event': e.event, text: describe(e)}));
  while (log.children.length > 300) log.firstChild.remove();
  if (stick) log.scrollTop = log.scrollHeight;
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
  dialog.setAttribute('data-box', String(box.id));
  document.getElementById('messagebox-caption').textContent = box.caption;
  document.getElementById('messagebox-text').textContent = box.text;
  const buttons = box.buttons.map((answer) => {
    const b = el('button', {type: 'button', 'data-answer': answer, text: answer});
    // Answered directly: the page's call waits for it, so it must not queue.
    b.addEventListener('click', () => {
      view.boxPending = 0;
      post('/api/messagebox', {id: box.id, answer});
      dialog.close();
    });
    return b;
  });
  document.getElementById('messagebox-buttons').replaceChildren(...buttons);
  view.boxPending = box.id;
  if (!dialog.open) dialog.showModal();
}

// ---- Wiring ------------------------------------------------------------------------------

function connect() {
  const status = document.getElementById('connection');
  const events = new EventSource('/api/events');
  const on = (name, handle) => events.addEventListener(name, (m) => handle(JSON.parse(m.data)));
  let opened = false;
  events.onopen = () => {
    // A new stream starts with everything again, the log too.
    if (opened) document.getElementById('log').replaceChildren();
    opened = true;
    status.textContent = 'connected';
    status.className = 'up';
  };
  events.onerror = () => { status.textContent = 'reconnecting'; status.className = 'down'; };
  on('tree', (tree) => { view.tree = tree; renderTree(); });
  on('page', (page) => { view.page = page; renderPage(); });
  on('pipes', (pipes) => { view.pipes = pipes; renderPipes(); });
  on('displays', (displays) => { view.displays = displays; renderDisplays(); });
  on('box', renderBox);
  on('log', logLine);
}

document.addEventListener('DOMContentLoaded', () => {
  document.getElementById('play').addEventListener('click', () => enqueue(() => post('/api/play', {on: true})));
  document.getElementById('stop').addEventListener('click', () => enqueue(() => post('/api/play', {on: false})));
  document.getElementById('apply').addEventListener('click', () => enqueue(() => act({action: 'apply'})));
  document.getElementById('reload').addEventListener('click', () => enqueue(() => act({action: 'reload'})));
  // A message box is answered with one of its buttons, not dismissed.
  const box = document.getElementById('messagebox');
  box.addEventListener('cancel', (e) => e.preventDefault());
  box.addEventListener('close', () => { if (view.boxPending) box.showModal(); });
  connect();
});
