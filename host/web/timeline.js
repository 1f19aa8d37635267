// The timeline of a replay: play and pause, a step forward or back, a seek
// to a batch or a time, the speed, and where the replay stands. The server
// holds the timeline (the pipes' "timeline"); this draws it and sends the
// user's requests in order with the page's other actions (app.js: post,
// enqueue, el).
'use strict';

const SPEEDS = [0.25, 0.5, 1, 2, 4, 8];

const timeline = {
  state: null,
  built: false,
  dragging: false,  // the slider is being moved: it follows the user, not the server
};

function timelineSend(body) {
  return enqueue(() => post('/api/timeline', body));
}

function timelineMode() {
  const select = document.getElementById('timeline-mode');
  return select && select.value ? select.value : '';
}

function seconds(t) { return `${Number(t || 0).toFixed(2)} s`; }

function buildTimeline(box) {
  const button = (id, text, label, action) => el('button', {
    type: 'button', id, text, 'aria-label': label, onclick: () => action(),
  });
  const withMode = (body) => Object.assign(body, timelineMode() ? {mode: timelineMode()} : {});
  const mode = el('select', {id: 'timeline-mode', 'aria-label': 'Mode to replay in'});
  const speed = el('select', {id: 'timeline-speed', 'aria-label': 'Replay speed'},
      SPEEDS.map((s) => el('option', {value: String(s), text: `${s}x`})));
  speed.value = '1';
  speed.addEventListener('change', () => timelineSend({action: 'speed', speed: Number(speed.value)}));
  const slider = el('input', {type: 'range', id: 'timeline-slider', min: '0', max: '0', value: '0',
                              'aria-label': 'Batch shown'});
  slider.addEventListener('input', () => {
    timeline.dragging = true;
    document.getElementById('timeline-batch').value = slider.value;
  });
  slider.addEventListener('change', () => {
    timeline.dragging = false;
    timelineSend(withMode({action: 'seek', batch: Number(slider.value)}));
  });
  const batch = el('input', {type: 'number', id: 'timeline-batch', min: '0', step: '1',
                             'aria-label': 'Batch to show'});
  const time = el('input', {type: 'number', id: 'timeline-time', min: '0', step: '0.01',
                            'aria-label': 'Time to show, in seconds'});
  const seekBatch = (e) => {
    e.preventDefault();
    if (batch.value !== '') timelineSend(withMode({action: 'seek', batch: Math.floor(Number(batch.value))}));
  };
  const seekTime = (e) => {
    e.preventDefault();
    if (time.value !== '') timelineSend(withMode({action: 'seek', time: Number(time.value)}));
  };
  box.replaceChildren(
      el('div', {class: 'timeline-head'}, [
        el('strong', {id: 'timeline-title', text: 'Replay'}),
        el('label', {}, ['Mode ', mode]),
        el('span', {id: 'timeline-position', role: 'status', 'aria-live': 'polite'}),
      ]),
      el('div', {class: 'timeline-controls'}, [
        button('timeline-back', '\u25C0 Back', 'Back one batch', () => timelineSend(withMode({action: 'back'}))),
        button('timeline-play', '\u25B6 Play', 'Play', () => timelineSend(withMode({action: 'play'}))),
        button('timeline-pause', 'Pause', 'Pause', () => timelineSend({action: 'pause'})),
        button('timeline-step', 'Step \u25B6', 'Step one batch forward', () => timelineSend(withMode({action: 'step'}))),
        slider,
        el('label', {}, ['Speed ', speed]),
      ]),
      el('div', {class: 'timeline-controls'}, [
        el('form', {id: 'timeline-seek-batch', onsubmit: seekBatch}, [
          el('label', {}, ['Batch ', batch]), el('button', {type: 'submit', text: 'Go'})]),
        el('form', {id: 'timeline-seek-time', onsubmit: seekTime}, [
          el('label', {}, ['Time ', time]), el('button', {type: 'submit', text: 'Go'})]),
      ]));
  timeline.built = true;
}

// Draws the timeline as the server holds it (app.js calls this with every
// change of the pipes).
function renderTimeline(pipes) {
  const box = document.getElementById('timeline');
  if (!box) return;
  const t = pipes && pipes.timeline;
  timeline.state = t || null;
  box.hidden = !t || !t.replaying;
  if (box.hidden) return;
  if (!timeline.built) buildTimeline(box);
  const mode = document.getElementById('timeline-mode');
  const names = t.modes || [];
  if (mode.options.length !== names.length + 1) {
    mode.replaceChildren(el('option', {value: '', text: 'as the pipe runs'}),
                         ...names.map((m) => el('option', {value: m, text: m})));
  }
  if (t.mode && document.activeElement !== mode) mode.value = t.mode;
  document.getElementById('timeline-title').textContent = `Replay of ${(t.inputs || []).join(', ')}`;
  const shown = t.shown >= 0 ? `batch ${t.shown} of ${t.batches} (0 to ${t.batches - 1})` : `no batch yet of ${t.batches}`;
  document.getElementById('timeline-position').textContent =
      `${shown}, ${seconds(t.time)} of ${seconds(t.end)}${t.playing ? ', playing' : ''} at ${t.speed}x`;
  document.getElementById('timeline-position').dataset.shown = String(t.shown);
  const slider = document.getElementById('timeline-slider');
  slider.max = String(Math.max(0, t.batches - 1));
  if (!timeline.dragging) slider.value = String(Math.max(0, t.shown));
  const batch = document.getElementById('timeline-batch');
  batch.max = String(Math.max(0, t.batches - 1));
  if (document.activeElement !== batch) batch.value = t.shown >= 0 ? String(t.shown) : '';
  const time = document.getElementById('timeline-time');
  if (document.activeElement !== time) time.value = Number(t.time || 0).toFixed(2);
  const speed = document.getElementById('timeline-speed');
  if (document.activeElement !== speed) speed.value = String(t.speed);
  document.getElementById('timeline-play').disabled = t.playing;
  document.getElementById('timeline-pause').disabled = !t.playing;
  document.getElementById('timeline-back').disabled = t.shown < 0;
  document.getElementById('timeline-step').disabled = t.shown >= t.batches - 1;
}

// Replays a capture of the file space ("Capture/<name>") here.
function replayCapture(folder) {
  return timelineSend(Object.assign({action: 'replay', capture: folder},
                                    timelineMode() ? {mode: timelineMode()} : {}));
}

window.zvTimeline = {render: renderTimeline, replay: replayCapture};
