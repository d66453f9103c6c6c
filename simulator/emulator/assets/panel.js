// The panel: varno-sim's platform drawn from its event stream, and changed
// through its control API (README.md, "varno-sim", lists both). Everything
// it shows comes from the newest state; nothing is kept in the page but the
// trend of each analogue input and the journal's last calls.
'use strict';

// The status word's bits, as README.md's table names them. Bits 1 to 15 are
// the modules', named after the modules the platform has.
const kStatusBits = [
  [0, 'link up'],
  [16, 'motion: drive enabled'],
  [17, 'motion: homed'],
  [18, 'motion: moving'],
  [19, 'motion: emergency stop'],
  [20, 'motion: dynamic parameters loaded'],
  [23, 'motion: fault'],
  [24, 'link lost'],
];
const kMotionFlags = [
  ['enabled', 'drive enabled'],
  ['homed', 'homed'],
  ['moving', 'moving'],
  ['emergency_stop', 'emergency stop'],
  ['fault', 'fault'],
  ['parameters_loaded', 'parameters loaded'],
];
const kParameterNames = {
  10: 'MAX_SPEED (m/s)',
  11: 'MAX_ACCELERATION (m/s²)',
  12: 'MAX_PAYLOAD (kg)',
  13: 'USER_WEIGHT (kg)',
  20: 'DYNAMIC_1',
  21: 'DYNAMIC_2',
  22: 'DYNAMIC_3',
  23: 'DYNAMIC_4',
  24: 'DYNAMIC_5',
};
const kEntries = [
  'start_ZUNVarno', 'start_ZUNVarno2', 'getValue_ZUNVarno', 'setValue_ZUNVarno',
  'getAIValueForCalibration_ZUNVarno', 'close_ZUNVarno', 'setCalibration_ZUNVarno',
  'getStatus_ZUNVarno', 'MP_getParameter', 'MP_updateDynamicParameters', 'MP_sendCommand',
];
const kTrendMs = 30000;
const kJournalShown = 200;
// The journal is redrawn at most this often: a host's live reading makes
// thousands of calls a second, and nobody reads faster.
const kJournalDrawMs = 100;
// A slider being dragged holds its input at most this often.
const kSlideMs = 80;
const kRateWindowMs = 2000;

const $ = (id) => document.getElementById(id);
const make = (tag, props = {}, ...children) => {
  const el = Object.assign(document.createElement(tag), props);
  el.append(...children);
  return el;
};
const number = (v, digits = 3) => (v === null || v === undefined ? '—' : Number(v).toFixed(digits));
// Twenty states a second in each of several tabs: what has not changed is
// not written again, so that the browser has nothing to lay out anew.
const setText = (el, text) => {
  if (el.textContent !== text) el.textContent = text;
};
const setAttr = (el, name, value) => {
  if (el.getAttribute(name) !== value) el.setAttribute(name, value);
};

// ---- Talking to varno-sim.

const tokenKey = `varno-sim token ${location.host}`;
const token = () => localStorage.getItem(tokenKey) || '';
let retryAfterToken = null;

function say(text, refused = false) {
  const line = $('message');
  line.textContent = text;
  line.classList.toggle('refused', refused);
}

// A changing request, with the token when one is kept; the answer's body, or
// null once the refusal is told.
async function control(method, path, body) {
  const headers = {};
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  if (token()) headers.Authorization = `Bearer ${token()}`;
  let res;
  try {
    res = await fetch(path, {
      method, headers, body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch {
    say(`varno-sim did not answer ${method} ${path}`, true);
    return null;
  }
  const answer = await res.json().catch(() => ({}));
  if (res.status === 401) {
    retryAfterToken = () => control(method, path, body);
    askForToken(answer.error);
    return null;
  }
  if (!res.ok) {
    say(`varno-sim refused (${res.status}): ${answer.error || res.statusText}`, true);
    return null;
  }
  say('');
  return answer;
}

function askForToken(reason) {
  $('token-form').hidden = false;
  $('token-reason').textContent = reason
    || 'varno-sim asks for its token (it printed it when it started).';
}

function takeTokenFromAddress() {
  const fragment = new URLSearchParams(location.hash.slice(1));
  if (!fragment.has('token')) return;
  localStorage.setItem(tokenKey, fragment.get('token'));
  history.replaceState(null, '', location.pathname + location.search);
}

// ---- The stream, shared with the other tabs where the browser can.

function joinStream(onBatch) {
  let own = false;
  const alone = () => {
    if (own) return;
    own = true;
    const script = make('script', { src: '/panel-stream.js' });
    script.onload = () => openPanelStream(onBatch);
    document.head.append(script);
  };
  if (typeof SharedWorker !== 'function') return alone();
  let worker;
  try {
    worker = new SharedWorker('/panel-stream.js', { name: 'varno-sim events' });
  } catch {
    return alone();
  }
  worker.onerror = alone;
  worker.port.onmessage = (e) => onBatch(e.data);
  addEventListener('pagehide', () => worker.port.postMessage('bye'));
  addEventListener('pageshow', (e) => {
    if (e.persisted) worker.port.postMessage('hello');
  });
  worker.port.start();
}

// ---- Drawing the platform.

let listing = '';
const views = new Map(); // signal name -> its elements and what it last showed
const trends = new Map(); // analogue input -> [{t, v}] over the last 30 s
const stateTimes = [];
let lastState = null;

function build(state) {
  const cards = $('modules');
  cards.replaceChildren();
  views.clear();
  for (const m of state.modules) {

    const plug = make('button', {
      className: 'plug', type: 'button', id: `module-${m.number}-switch`,
    });
    plug.setAttribute('role', 'switch');
    plug.setAttribute('aria-label', `module ${m.number} plugged in`);
    plug.onclick = () => control('PUT', `/api/modules/${m.number}`,
      { answering: plug.getAttribute('aria-checked') !== 'true' });
    const list = make('ul', { className: 'signals' });
    const card = make('article', { className: 'module', id: `module-${m.number}` },
      make('header', {}, make('h3', {}, `Module ${m.number}`,
        make('span', { className: 'module-name' }, m.name || '')),
      make('span', { className: 'badge' }), plug),
      list);
    cards.append(card);
    for (const s of state.signals.filter((x) => x.module === m.number)) {
      list.append(buildSignal(s));
    }
  }
  const bits = [[0, 'link up']];
  for (const m of state.modules) bits.push([m.number, `module ${m.number} answers`]);
  $('status-bits').replaceChildren(...bits.concat(kStatusBits.slice(1)).map(([bit, name]) => {
    const hex = (2 ** bit).toString(16);
    return make('li', { className: 'bit', id: `bit-${bit}` }, make('span', { className: 'bulb' }),
      make('code', {}, hex), ` ${name}`, make('span', { className: 'hidden state' }));
  }));
}

function buildSignal(s) {
  const view = { kind: s.kind, setAt: undefined };
  const value = make('output', { className: 'value' });
  const source = make('span', { className: 'source' });
  const row = make('li', { className: `signal ${s.kind.toLowerCase()}`, id: `signal-${s.name}` });
  const release = () => {
    const b = make('button', { type: 'button', className: 'release', textContent: 'Release' });
    b.setAttribute('aria-label', `release ${s.name}`);
    b.onclick = () => control('PUT', `/api/signals/${encodeURIComponent(s.name)}`,
      { release: true });
    return b;
  };
  if (s.kind === 'DI') {
    const lamp = make('button', { type: 'button', className: 'lamp', id: `lamp-${s.name}` },
      make('span', { className: 'bulb' }), s.name);
    lamp.onclick = () => control('PUT', `/api/signals/${encodeURIComponent(s.name)}`,
      { value: lamp.classList.contains('on') ? 0 : 1 });
    Object.assign(view, { lamp, release: release() });
    row.append(lamp, value, source, view.release);
  } else if (s.kind === 'DO') {
    const lamp = make('span', { className: 'lamp', id: `lamp-${s.name}` },
      make('span', { className: 'bulb' }), s.name);
    lamp.setAttribute('role', 'img');
    lamp.addEventListener('animationend', () => lamp.classList.remove('flash'));
    Object.assign(view, { lamp });
    row.append(lamp, value, source);
  } else if (s.kind === 'AI') {
    const [low, high] = s.range;
    const canvas = make('canvas', { className: 'trend', height: 60 });
    canvasSizes.observe(canvas);
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', `${s.name} over the last 30 s, from ${low} to ${high}`);
    const slider = make('input', {
      type: 'range', min: low, max: high, step: (high - low) / 1000, id: `hold-${s.name}`,
    });
    slider.setAttribute('aria-label', `hold ${s.name} at`);
    let sent = 0;
    let timer = 0;
    const hold = () => {
      clearTimeout(timer);
      timer = 0;
      sent = Date.now();
      control('PUT', `/api/signals/${encodeURIComponent(s.name)}`, { value: Number(slider.value) });
    };
    slider.oninput = () => {
      view.sliding = true;
      if (Date.now() - sent >= kSlideMs) hold();
      else if (!timer) timer = setTimeout(hold, kSlideMs);
    };
    slider.onchange = () => {
      hold();
      view.sliding = false;
    };
    slider.onblur = () => { view.sliding = false; };
    Object.assign(view, { canvas, slider, low, high, release: release() });
    row.append(make('span', { className: 'name' }, s.name), value, source, canvas,
      make('label', { className: 'hold', htmlFor: slider.id }, 'hold at'), slider,
      view.release);
  } else {
    const meter = make('meter', { min: s.range[0], max: s.range[1] });
    meter.setAttribute('aria-label', `${s.name}, from ${s.range[0]} to ${s.range[1]}`);
    Object.assign(view, { meter });
    row.append(make('span', { className: 'name' }, s.name), value, meter, source);
  }
  Object.assign(view, { row, value, source });
  views.set(s.name, view);
  return row;
}

function showSignal(s, state, now) {
  const view = views.get(s.name);
  if (!view) return;
  const live = s.value !== null;
  const digital = s.kind === 'DI' || s.kind === 'DO';
  setText(view.value, digital ? (live ? String(s.value) : '—') : number(s.value));
  view.row.classList.toggle('held', Boolean(s.held));
  if (view.lamp) {
    const on = live && s.value >= 0.5;
    view.lamp.classList.toggle('on', on);
    const reads = live ? `reads ${s.value}` : 'not started';
    setAttr(view.lamp, 'aria-label', s.kind === 'DI'
      ? `${s.name} ${reads}${s.held ? ', held' : ''}: hold it at ${on ? 0 : 1}`
      : `${s.name} ${on ? 'on' : 'off'}`);
  }
  if (view.release && view.release.disabled !== !s.held) view.release.disabled = !s.held;
  if (s.kind === 'DI' || s.kind === 'AI') {
    setText(view.source, s.held ? 'held' : s.wired_to ? `wired to ${s.wired_to}` : 'its wave');
  } else {
    // An output flashes on each of the host's writes, seen as a new set_at.
    if (view.setAt !== undefined && s.set_at !== null && s.set_at !== view.setAt) {
      view.lamp?.classList.remove('flash');
      void view.row.offsetWidth; // restarts the animation
      view.lamp?.classList.add('flash');
      view.row.classList.remove('written');
      void view.row.offsetWidth;
      view.row.classList.add('written');
    }
    view.setAt = s.set_at;
    setText(view.source, s.set_at === null ? 'never set'
      : `set ${Math.max(0, state.time_s - s.set_at).toFixed(1)} s ago`);
  }
  if (view.meter) view.meter.value = live ? s.value : s.range[0];
  if (view.slider) {
    if (!view.sliding && document.activeElement !== view.slider && live) {
      view.slider.value = s.raw;
    }
    drawTrend(view, trends.get(s.name), now);
  }
}

// The canvases' sizes, known without asking the browser to lay out the page
// in the middle of a state's drawing.
const canvasSizes = new ResizeObserver((entries) => {
  for (const e of entries) e.target.size = [e.contentRect.width, e.contentRect.height];
});

function drawTrend(view, trend, now) {
  const { canvas } = view;
  if (!canvas.size) return;
  const width = Math.round(canvas.size[0] * devicePixelRatio);
  const height = Math.round(canvas.size[1] * devicePixelRatio);
  if (!width || !height) return;
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, width, height);
  g.strokeStyle = '#c8c8c8';
  g.lineWidth = 1;
  for (let i = 1; i < 3; i += 1) {
    g.beginPath();
    g.moveTo(0, (height * i) / 3);
    g.lineTo(width, (height * i) / 3);
    g.stroke();
  }
  const x = (t) => width - ((now - t) / kTrendMs) * width;
  const y = (v) => height - 2 - ((v - view.low) / (view.high - view.low)) * (height - 4);
  g.strokeStyle = '#0b4f9c';
  g.lineWidth = 2 * devicePixelRatio;
  g.beginPath();
  trend.forEach((p, i) => (i ? g.lineTo(x(p.t), y(p.v)) : g.moveTo(x(p.t), y(p.v))));
  g.stroke();
}

function lit(el, on, words = ['set', 'clear']) {
  el.classList.toggle('on', on);
  setText(el.querySelector('.state'), on ? ` (${words[0]})` : ` (${words[1]})`);
}

// Each state is counted and its analogue readings kept for the trends; it is
// drawn only while the tab can be seen (a hidden tab draws the newest state
// when it comes back).
let statesTaken = 0;
function take(state) {
  const now = performance.now();
  statesTaken += 1;
  $('rate').dataset.states = statesTaken;
  stateTimes.push(now);
  while (stateTimes[0] < now - kRateWindowMs) stateTimes.shift();
  for (const s of state.signals) {
    if (s.kind !== 'AI') continue;
    if (!trends.has(s.name)) trends.set(s.name, []);
    const trend = trends.get(s.name);
    if (s.raw !== null) trend.push({ t: now, v: s.raw });
    while (trend.length && trend[0].t < now - kTrendMs) trend.shift();
  }
  lastState = state;
  if (!document.hidden) show(state, now);
}
addEventListener('visibilitychange', () => {
  if (!document.hidden && lastState) show(lastState, performance.now());
});

function show(state, now) {
  const span = (now - stateTimes[0]) / 1000;
  setText($('rate'), span > 0 ? ((stateTimes.length - 1) / span).toFixed(0) : '0');
  const shape = JSON.stringify([state.modules.map((m) => [m.number, m.name]),
    state.signals.map((s) => [s.name, s.kind, s.module, s.range])]);
  if (shape !== listing) {
    listing = shape;
    build(state);
  }
  setText($('scenario'), state.running
    ? `running scenario ${state.scenario}, seed ${state.seed}, for ${number(state.time_s, 1)} s`
    : 'not started: no host has started the platform');
  const { host } = state;
  setText($('host'), host.connected
    ? `host ${host.address} connected, ${host.calls} calls, last heard ${number(host.idle_s, 1)} s ago`
    : host.address ? `host ${host.address} has closed the platform` : 'no host connected');
  $('host').classList.toggle('on', host.connected);
  setText($('status-hex'), state.status_hex);
  for (const li of $('status-bits').children) {
    lit(li, ((state.status >>> Number(li.id.slice(4))) & 1) === 1);
  }
  for (const m of state.modules) {
    const card = $(`module-${m.number}`);
    card.classList.toggle('pulled', !m.answering);
    setText(card.querySelector('.badge'), m.answering ? 'answering' : 'pulled');
    const plug = $(`module-${m.number}-switch`);
    setAttr(plug, 'aria-checked', String(m.answering));
    setText(plug, m.answering ? 'Pull' : 'Plug in');
  }
  for (const s of state.signals) showSignal(s, state, now);
  showMotion(state.motion);
  showLink(state.link);
  if (state.token_required && !token() && $('token-form').hidden) askForToken();
}

function showMotion(motion) {
  const flags = $('motion-flags');
  if (!flags.children.length) {
    flags.append(...kMotionFlags.map(([key, name]) => make('li', { className: 'flag', id: `flag-${key}` },
      make('span', { className: 'bulb' }), name, make('span', { className: 'hidden state' }))));
  }
  for (const [key] of kMotionFlags) lit($(`flag-${key}`), motion[key], ['on', 'off']);
  const table = $('parameters');
  const numbers = Object.keys(motion.parameters);
  if (table.dataset.numbers !== numbers.join()) {
    table.dataset.numbers = numbers.join();
    table.replaceChildren(...(numbers.length ? numbers.map((n) => make('tr', {},
      make('td', {}, n), make('td', {}, kParameterNames[n] || ''), make('td', { id: `parameter-${n}` })))
      : [make('tr', {}, make('td', { colSpan: 3 }, 'none until a host starts the platform'))]));
  }
  for (const n of numbers) setText($(`parameter-${n}`), number(motion.parameters[n]));
}

function showLink(link) {
  setText($('link-state'), link.up
    ? `up: latency ${link.latency_ms} ms, jitter ${link.jitter_ms} ms, loss ${Math.round(link.loss * 100)} %`
    : 'cut: nothing reaches the platform (the host stays unlinked until its next start)');
  $('link-state').classList.toggle('refused', !link.up);
  const toggle = $('link-toggle');
  setText(toggle, link.up ? 'Cut the link' : 'Restore the link');
  setAttr(toggle, 'aria-pressed', String(!link.up));
  // The numbers follow the platform's unless being edited.
  if (!$('link-form').contains(document.activeElement) && !$('link-form').dataset.editing) {
    for (const [id, value] of [['latency', link.latency_ms], ['jitter', link.jitter_ms],
      ['loss', link.loss]]) {
      if ($(id).value !== String(value)) $(id).value = value;
    }
  }
}

// ---- The journal: the last 200 calls, as the journal spells them.

const journal = {
  lines: [], next: 0, skipped: 0, paused: false, loading: null, waiting: [], drawn: 0, timer: 0,
};

const entryWanted = () => $('journal-entry').value;
const matches = (call) => !entryWanted() || call.startsWith(`${entryWanted()}(`);

// The last 200 calls (of the entry chosen), fetched whole: calls the stream
// brings meanwhile are kept until the page says where it ends.
function reloadJournal() {
  const query = new URLSearchParams({ last: String(kJournalShown) });
  if (entryWanted()) query.set('entry', entryWanted());
  const loading = fetch(`/api/journal?${query}`).then((r) => (r.ok ? r.json() : null))
    .catch(() => null).then((page) => {
      if (journal.loading !== loading) return;
      journal.loading = null;
      if (page) {
        journal.lines = page.calls;
        journal.next = page.next;
      }
      const waiting = journal.waiting;
      journal.waiting = [];
      addCalls(waiting);
      drawJournal();
    });
  journal.loading = loading;
  return loading;
}

function addCalls(calls) {
  if (journal.loading) {
    journal.waiting.push(...calls);
    return;
  }
  if (journal.paused) return;
  for (const { n, call } of calls) {
    if (n < journal.next || !matches(call)) continue;
    journal.lines.push(call);
    journal.next = n + 1;
  }
  if (journal.lines.length > kJournalShown) journal.lines.splice(0, journal.lines.length - kJournalShown);
  if (!journal.timer) {
    journal.timer = setTimeout(drawJournal, Math.max(0, journal.drawn + kJournalDrawMs - Date.now()));
  }
}

function drawJournal() {
  clearTimeout(journal.timer);
  journal.timer = 0;
  journal.drawn = Date.now();
  const pre = $('journal-lines');
  const atEnd = pre.scrollHeight - pre.scrollTop - pre.clientHeight < 24;
  pre.textContent = journal.lines.join('\n');
  if (atEnd) pre.scrollTop = pre.scrollHeight;
  const shown = journal.lines.length;
  $('journal-count').textContent = `${shown} ${shown === 1 ? 'call' : 'calls'} shown`
    + (journal.skipped ? `; ${journal.skipped} more came faster than the panel follows and were`
      + ' left out (pause or download for the last 200 exactly)' : '');
}

async function download() {
  let { lines } = journal;
  if (!journal.paused) {
    await reloadJournal();
    lines = journal.lines;
  }
  const blob = new Blob([lines.map((l) => `${l}\n`).join('')], { type: 'text/plain' });
  const a = make('a', {
    href: URL.createObjectURL(blob),
    download: `varno-sim-journal${entryWanted() ? `-${entryWanted()}` : ''}.txt`,
  });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

// ---- The stream's batches.

let epoch = 0;
function onBatch(batch) {
  if (batch.link) {
    const gone = batch.link === 'gone';
    document.body.classList.toggle('gone', gone);
    $('connection').hidden = !gone;
    if (gone) {
      $('connection').textContent = `varno-sim at ${location.host} is not answering (since `
        + `${new Date().toLocaleTimeString()}). The panel shows what it saw last and comes back `
        + 'by itself when varno-sim does.';
    }
    if (batch.epoch && batch.epoch !== epoch) {
      epoch = batch.epoch;
      reloadJournal(); // a new stream may be a new varno-sim, numbering afresh
    }
  }
  if (batch.state) take(batch.state);
  if (batch.calls?.length) addCalls(batch.calls);
  if (batch.skipped) {
    journal.skipped += batch.skipped;
    drawJournal();
  }
}

// ---- The controls that are not built from the state.

function wire() {
  $('emergency-stop').onclick = () => control('POST', '/api/motion/emergency-stop');
  $('motion-reset').onclick = () => control('POST', '/api/motion/reset');
  $('link-toggle').onclick = () => control('PUT', '/api/link', { up: !lastState?.link.up });
  const form = $('link-form');
  form.oninput = () => { form.dataset.editing = 'yes'; };
  form.onsubmit = async (e) => {
    e.preventDefault();
    const answer = await control('PUT', '/api/link', {
      latency_ms: Number($('latency').value),
      jitter_ms: Number($('jitter').value),
      loss: Number($('loss').value),
    });
    if (answer) delete form.dataset.editing;
  };
  $('token-form').onsubmit = (e) => {
    e.preventDefault();
    localStorage.setItem(tokenKey, $('token').value.trim());
    $('token').value = '';
    $('token-form').hidden = true;
    const retry = retryAfterToken;
    retryAfterToken = null;
    if (retry) retry();
  };
  const entry = $('journal-entry');
  entry.append(...kEntries.map((name) => make('option', { value: name, textContent: name })));
  entry.onchange = reloadJournal;
  const pause = $('journal-pause');
  pause.onclick = async () => {
    const paused = !journal.paused;
    pause.setAttribute('aria-pressed', String(paused));
    pause.textContent = paused ? 'Resume' : 'Pause';
    // Paused, the journal shows the last 200 calls exactly, none left out.
    journal.paused = false;
    await reloadJournal();
    journal.paused = paused;
  };
  $('journal-download').onclick = download;
}

takeTokenFromAddress();
wire();
joinStream(onBatch);
