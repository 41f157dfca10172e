#include "tools/korval/serve/page_assets.h"

namespace korval::tools::serve {

const char* const kPageScript = R"js('use strict';
// The camera's page: builds one control per property from what the server
// reports (range, step, default, auto), sends each change at once, and keeps
// the controls, the counters and the still up to date from the server's
// events, whichever page made the change. When the server goes, it says so
// and comes back with it.
const byId = (id) => document.getElementById(id);
const controls = new Map(); // property name -> {entry, input, output, auto}
let stills = 0;
let gone = false;
let events = null; // the server's event stream

// While the camera is gone no other message (nor a late answer's '') hides it.
function say(text) { if (!gone) byId('message').textContent = text; }

// A background request (a state refresh) leaves the message alone when it
// succeeds: the answer to the user's last change stays until their next one.
async function request(method, url, params, body, type, background) {
  const query = new URLSearchParams(params || {}).toString();
  const options = { method };
  if (body) { options.body = body; options.headers = { 'Content-Type': type }; }
  const send = () => fetch(url + (query ? '?' + query : ''), options).catch(() => null);
  // A kept connection the server has just closed as idle fails the request before it reaches the
  // server, and browsers retry only GETs by themselves. The browser may hold several connections
  // the server closed at the same moment, and drops each one that failed: a few more tries.
  let response = null;
  for (let attempt = 0; attempt < 4 && !response; ++attempt) response = await send();
  if (!response) { requestFailed(); return null; }
  const answer = await response.json().catch(() => ({ error: response.statusText }));
  if (!response.ok) { say(answer.error || response.statusText); return null; }
  if (!background) say('');
  return answer;
}

function title(name) {
  const words = name.replace(/-/g, ' ');
  return words.charAt(0).toUpperCase() + words.slice(1);
}

function makeInput(entry) {
  if (entry.control === 'checkbox') {
    const box = document.createElement('input');
    box.type = 'checkbox';
    return box;
  }
  if (entry.control === 'select') {
    const select = document.createElement('select');
    for (const option of entry.options) select.add(new Option(option.label, option.value));
    return select;
  }
  const slider = document.createElement('input');
  slider.type = 'range';
  slider.min = entry.min; slider.max = entry.max; slider.step = entry.step;
  return slider;
}

function inputValue(control) {
  return control.input.type === 'checkbox' ? (control.input.checked ? 1 : 0) : control.input.value;
}

// Slider moves are sent one at a time: while one is on its way the newest waits.
// `control.pending` keeps pushed states from moving a slider while it is being moved.
function sender(name) {
  let busy = false, waiting = null;
  return async function send(params) {
    const control = controls.get(name);
    if (busy) { waiting = params; return; }
    busy = true;
    control.pending = true;
    const answer = await request('POST', '/api/property', Object.assign({ name }, params));
    busy = false;
    control.pending = !!waiting;
    if (answer) showProperty(answer.property, !!waiting);
    if (waiting) { const next = waiting; waiting = null; send(next); }
  };
}

function addProperty(entry) {
  const row = document.createElement('div');
  row.className = 'property';
  const label = document.createElement('label');
  label.textContent = title(entry.name);
  const input = makeInput(entry);
  input.id = 'property-' + entry.name;
  input.disabled = !entry.settable;
  label.htmlFor = input.id;
  const output = document.createElement('output');
  const autoLabel = document.createElement('label');
  autoLabel.className = 'auto';
  const control = { entry, input, output, auto: null, pending: false, send: sender(entry.name) };
  if (entry.auto) {
    control.auto = document.createElement('input');
    control.auto.type = 'checkbox';
    control.auto.id = 'auto-' + entry.name;
    autoLabel.append(control.auto, ' auto');
    control.auto.addEventListener('change', () =>
      control.send({ mode: control.auto.checked ? 'auto' : 'manual' }));
  }
  const live = entry.control === 'slider' ? 'input' : 'change';
  input.addEventListener(live, () => {
    output.value = inputValue(control);
    control.send({ value: inputValue(control) });
  });
  if (entry.default !== null) input.title = 'default ' + entry.default;
  row.append(label, input, output, autoLabel);
  const effect = entry.name === 'effect' || entry.name === 'overlay-frame';
  byId(effect ? 'effects' : 'group-' + entry.group).append(row);
  controls.set(entry.name, control);
}

// One state request at a time; changes pushed meanwhile ask for one more. A
// state asked for before the user's last size, format or scene choice, or
// while one is on its way, predates it: it does not move those selects back.
let refreshing = false, refreshAgain = false;
let choicesSent = 0, choicesPending = 0;
async function refreshState() {
  if (refreshing) { refreshAgain = true; return; }
  refreshing = true;
  do {
    refreshAgain = false;
    const choicesBefore = choicesSent;
    const state = await request('GET', '/api/state', null, null, null, true);
    if (state) showState(state, choicesBefore !== choicesSent);
  } while (refreshAgain);
  refreshing = false;
}

function showProperty(entry, keepInput) {
  const control = controls.get(entry.name);
  if (!keepInput) {
    if (control.input.type === 'checkbox') control.input.checked = entry.value === 1;
    else if (entry.value !== null) control.input.value = entry.value;
  }
  control.output.value = entry.value === null ? '-' : entry.value;
  if (control.auto) {
    control.auto.checked = entry.mode === 'auto';
    control.input.disabled = !entry.settable || entry.mode === 'auto';
  }
}

function fillSelect(select, values, current, keepChoice) {
  if (select.options.length === 0) for (const value of values) select.add(new Option(value, value));
  if (!keepChoice) select.value = current;
}

function showState(state, staleChoices) {
  for (const entry of state.properties || []) {
    if (!controls.has(entry.name)) addProperty(entry);
    showProperty(entry, controls.get(entry.name).pending);
  }
  const keepChoices = staleChoices || choicesPending > 0;
  fillSelect(byId('size'), state.sizes, state.stream.size, keepChoices);
  fillSelect(byId('format'), state.formats, state.stream.format, keepChoices);
  const scene = byId('scene');
  fillSelect(scene, state.scenes, state.scene, keepChoices);
  if (!keepChoices && !state.scenes.includes(state.scene)) scene.value = '';
  showCounters(state.counters);
}

function showCounters(counters) {
  byId('counters').textContent = 'frame ' + counters.frames + ' \u00b7 ' + counters.rate.toFixed(1) +
    ' frames/s \u00b7 dropped ' + counters.dropped;
  if (counters.stills !== stills) { stills = counters.stills; showStill(); }
}

async function showStill() {
  const response = await fetch('/api/still.png');
  if (!response.ok) return;
  const still = byId('still');
  if (still.src) URL.revokeObjectURL(still.src);
  still.src = URL.createObjectURL(await response.blob());
  byId('still-caption').textContent = 'still ' + stills + ' (the driver\'s still file)';
  byId('still-figure').hidden = false;
  byId('download').hidden = false;
}

// A size, format or scene choice; its answer is the state after it.
async function sendChoice(url, params, body, type) {
  ++choicesSent;
  ++choicesPending;
  const state = await request('POST', url, params, body, type);
  --choicesPending;
  if (state) showState(state);
}

function restartStream() {
  return sendChoice('/api/stream', { size: byId('size').value, format: byId('format').value });
}

function showGone() {
  if (gone) return;
  gone = true;
  document.body.dataset.camera = 'gone';
  byId('message').textContent = 'The camera is gone: korval serve has stopped. This page reconnects when it is back.';
}

// A request can fail while the server is there (a kept connection it had just
// closed): only the end of the event stream says the server has gone, and only
// its return brings the page back.
function requestFailed() {
  if (events && events.readyState === EventSource.OPEN) say('korval serve did not answer; try again.');
  else showGone();
}

function showBack() {
  if (!gone) return;
  gone = false;
  document.body.dataset.camera = 'here';
  say('');
  const live = byId('live');
  const fresh = live.cloneNode();
  fresh.src = '/stream.mjpg?view=' + Date.now(); // a new request, not the image the browser has
  live.replaceWith(fresh);
  refreshState();
}

// The server pushes "state" after any change (from any page) and the counters
// with every frame wait; the browser reconnects by itself when the server goes,
// but gives up after an answer that is not an event stream (a server still
// stopping, or too many pages): then the page opens a new one a second later.
function listen() {
  const source = new EventSource('/api/events');
  events = source;
  source.addEventListener('open', showBack);
  source.addEventListener('error', () => {
    showGone();
    if (source.readyState === EventSource.CLOSED) setTimeout(listen, 1000);
  });
  source.addEventListener('state', () => refreshState());
  source.addEventListener('counters', (event) => showCounters(JSON.parse(event.data)));
}

function wire() {
  byId('size').addEventListener('change', restartStream);
  byId('format').addEventListener('change', restartStream);
  byId('scene').addEventListener('change', () => sendChoice('/api/scene', { name: byId('scene').value }));
  byId('upload').addEventListener('change', async () => {
    const file = byId('upload').files[0];
    if (!file) return;
    await sendChoice('/api/scene/upload', null, file, 'image/png');
  });
  byId('defaults').addEventListener('click', async () => {
    const state = await request('POST', '/api/defaults');
    if (state) showState(state);
  });
  byId('snapshot').addEventListener('click', async () => {
    byId('snapshot').disabled = true;
    const counters = await request('POST', '/api/snapshot');
    byId('snapshot').disabled = false;
    if (counters) showCounters(counters);
  });
}

async function start() {
  wire();
  await refreshState();
  document.body.dataset.camera = 'here';
  document.body.dataset.ready = 'true';
  listen();
}

start();
)js";

} // namespace korval::tools::serve
