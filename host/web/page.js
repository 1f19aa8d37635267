// The browser UI of zvhost: the open page drawn from its dialog template.
// Each control is placed as the template places it, named from the label
// before it or the group box around it, and sends the operator's actions
// through app.js's queue. Loaded before app.js, whose state (view) and
// helpers (el, enqueue, act) it uses once the page runs.
'use strict';

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

// Words for buttons that show only a sign.
const SIGNS = {'-': 'decrease', '+': 'increase', '<': 'previous', '>': 'next', '<<': 'first', '>>': 'last',
               '...': 'browse', '\u2026': 'browse'};

function labelText(text) { return (text || '').replace(/&/g, '').replace(/\s*:\s*$/, '').trim(); }

function inside(inner, outer) {
  return inner[0] >= outer[0] && inner[1] >= outer[1] &&
      inner[0] + inner[2] <= outer[0] + outer[2] && inner[1] + inner[3] <= outer[1] + outer[3];
}

// The name an operator hears for each control, from the dialog's own
// labels: the static text just before it, else the group box around it
// (the innermost); check boxes, radio buttons and buttons by their own text,
// signs in words with the label they belong to.
function controlNames(controls) {
  return controls.map((c, i) => {
    const before = i > 0 && controls[i - 1].kind === 'static' ? labelText(controls[i - 1].text) : '';
    let group = '';
    let area = Infinity;
    for (const g of controls) {
      if (g.kind !== 'groupbox' || g === c || !inside(c.rect, g.rect)) continue;
      if (g.rect[2] * g.rect[3] < area) {
        area = g.rect[2] * g.rect[3];
        group = labelText(g.text);
      }
    }
    const context = before || group;
    const own = labelText(c.text);
    switch (c.kind) {
      case 'button':
      case 'checkbox':
      case 'radio':
        if (SIGNS[own]) return context ? `${context}: ${SIGNS[own]}` : SIGNS[own];
        return own || context || `control ${c.id}`;
      case 'static':
      case 'groupbox':
        return own;
      default:
        return context || `control ${c.id}`;
    }
  });
}

// Makes the element of one control, named `name` for assistive technology,
// and wires the user's events to actions.
function makeControl(c, name) {
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
      element = input = el('input', {type: 'text', spellcheck: false, autocomplete: 'off', 'aria-label': name});
      input.addEventListener('input', () => queueType(id, input.value));
      input.addEventListener('blur', () => enqueue(() => act({action: 'blur', control: id})));
      break;
    case 'dropdowncombo': {
      input = el('input', {type: 'text', spellcheck: false, autocomplete: 'off'});
      input.setAttribute('aria-label', name);
      const list = el('select', {'aria-label': `${name}: list`});
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
      element = input = el('select', {class: c.kind === 'listbox' ? 'list' : 'drop', 'aria-label': name});
      if (c.kind === 'listbox') input.size = Math.max(2, Math.floor(c.rect[3] / 8));
      input.addEventListener('change', () => {
        if (input.selectedIndex >= 0) enqueue(() => act({action: 'select', control: id, index: input.selectedIndex}));
      });
      break;
    case 'button':
      element = input = el('button', {type: 'button'});
      if (name !== labelText(c.text)) input.setAttribute('aria-label', name);
      input.addEventListener('click', () => enqueue(() => act({action: 'click', control: id})));
      break;
    case 'checkbox':
    case 'radio':
      input = el('input', {type: c.kind});
      if (name !== labelText(c.text)) input.setAttribute('aria-label', name);
      element = el('label', {}, [input, el('span')]);
      // The page decides what a click does; the box shows what it decided.
      input.addEventListener('click', (e) => {
        e.preventDefault();
        enqueue(() => act({action: 'click', control: id}));
      });
      break;
    case 'slider': {
      input = el('input', {type: 'range', step: 1, 'aria-label': name});
      const ticks = el('datalist', {id: `tics-${id}`});
      input.setAttribute('list', ticks.id);
      // The position in numbers, as the operator moves it.
      const value = el('output', {class: 'value', 'aria-hidden': 'true'});
      element = el('div', {class: 'slider'}, [input, value, ticks]);
      input.addEventListener('pointerdown', () => { input.dataset.dragging = '1'; });
      input.addEventListener('input', () => { value.textContent = input.value; });
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
  // Inner inputs keep their natural size: a check box as a box, not the
  // width of its label.
  if (input && input !== element) input.style.position = 'static';
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
      element.querySelector('output').textContent = input.value;
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
  if (open && page.outcome && page.outcome.seq !== view.outcome) {
    view.outcome = page.outcome.seq;
    showOutcome(page.outcome);
  }
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
    const names = controlNames(page.controls);
    view.controls = page.controls.map((c, i) => makeControl(c, names[i]));
    const dialog = el('div', {class: 'dialog', 'data-page': String(page.id)});
    dialog.style.width = `${page.size[0] * DU}px`;
    dialog.style.height = `${page.size[1] * DU}px`;
    dialog.append(...view.controls.map((c) => c.element));
    area.replaceChildren(dialog);
  }
  page.controls.forEach((c, i) => updateControl(view.controls[i], c));
}
