'use strict';
// The station's pages. Every text that came from a console reaches the page through el() or
// svg(), which make text nodes of strings: nothing here parses markup (no innerHTML), so a
// console that prints <script> shows it and runs none of it.

function build(node, attrs, children) {
  for (const [name, value] of Object.entries(attrs || {})) {
    if (value !== null && value !== undefined && value !== false) node.setAttribute(name, String(value));
  }
  for (const child of children.flat(Infinity)) {
    if (child !== null && child !== undefined) node.append(child instanceof Node ? child : String(child));
  }
  return node;
}
const el = (tag, attrs, ...children) => build(document.createElement(tag), attrs, children);
const svg = (tag, attrs, ...children) =>
  build(document.createElementNS('http://www.w3.org/2000/svg', tag), attrs, children);

const main = () => document.getElementById('main');
const setStatus = (text, kind) => {
  const status = document.getElementById('status');
  status.textContent = text;
  status.className = kind || '';
};

async function getJson(url) {
  const response = await fetch(url, {cache: 'no-store'});
  if (!response.ok) {
    const answer = await response.json().catch(() => ({}));
    throw new Error(answer.error || url + ': ' + response.status);
  }
  return response.json();
}

// The hub's own front LEDs: the first alone is failed, the second alone passed, the third
// alone testing, all three a normal boot. The tiles take the same meanings and colours.
const STATES = {
  offline: {label: 'offline'},
  waiting: {label: 'waiting'},
  booting: {label: 'booting', live: true},
  testing: {label: 'testing', leds: [0, 0, 1], live: true},
  passed: {label: 'passed', leds: [0, 1, 0]},
  failed: {label: 'failed', leds: [1, 0, 0]},
  incomplete: {label: 'incomplete'},
  'normal-boot': {label: 'normal boot', leds: [1, 1, 1]},
  unsupported: {label: 'unsupported'},
};
const VERDICTS = ['passed', 'failed', 'incomplete', 'normal-boot', 'unsupported'];
const stateOf = (name) => (Object.hasOwn(STATES, name) ? name : 'unknown');
const outcomeClass = (text) =>
  /^pass/i.test(text || '') ? 'pass' : /^fail/i.test(text || '') ? 'fail' : 'pending';

function duration(seconds) {
  if (seconds === null || seconds === undefined || !isFinite(seconds)) return '';
  const s = Math.max(0, Math.floor(seconds));
  const hms = [Math.floor(s / 3600), Math.floor(s / 60) % 60, s % 60];
  return (hms[0] ? hms[0] + ':' + String(hms[1]).padStart(2, '0') : String(hms[1])) + ':' +
      String(hms[2]).padStart(2, '0');
}
const runLink = (id) => el('a', {href: '/runs/' + Number(id)}, 'run ' + Number(id));

// ---- The line: one tile per fixture, kept current by the server's event stream.

function leds(pattern) {
  return el('span', {class: 'leds', title: 'the hub\'s LEDs'},
            [0, 1, 2].map((i) => el('span', {class: 'led' + (pattern && pattern[i] ? ' lit' : '')})));
}

function tile(fixture, receivedAt) {
  // A hub's verdict stays on its tile until the next hub's model line, even once its
  // console is gone or quiet; the console's own state is then shown beside it.
  const quiet = fixture.state === 'offline' || fixture.state === 'waiting';
  const kept = quiet && fixture.verdict && Object.hasOwn(STATES, fixture.verdict);
  const state = stateOf(kept ? fixture.verdict : fixture.state);
  const info = STATES[state] || {label: String(fixture.state)};
  const place = fixture.testIndex !== null && fixture.testIndex !== undefined && fixture.testCount
      ? ' ' + fixture.testIndex + '/' + fixture.testCount : '';
  const elapsed = el('span', {class: 'elapsed'}, duration(fixture.elapsedSeconds));
  if (info.live && typeof fixture.elapsedSeconds === 'number') {
    elapsed.dataset.since = String(receivedAt - fixture.elapsedSeconds * 1000);
  }
  return el('section', {class: 'tile state-' + state, 'data-fixture': fixture.fixture},
    el('div', {class: 'top'}, el('span', {class: 'fixture'}, fixture.fixture),
       kept ? el('span', {class: 'console'}, fixture.state) : '', leds(info.leds)),
    el('div', {class: 'state'}, info.label),
    el('div', {class: 'test'}, state === 'testing' && fixture.test ? fixture.test + place : ''),
    el('div', {class: 'ident'}, el('span', {class: 'model'}, fixture.model || ''),
       el('span', {class: 'unit'}, fixture.unit || '')),
    el('div', {class: 'bottom'}, elapsed, fixture.run ? runLink(fixture.run) : ''),
    el('ol', {class: 'tests'}, (fixture.tests || []).map((test, i, all) => {
      // The test under way has no verdict yet, whatever its record says so far.
      const running = info.live && i === all.length - 1 && outcomeClass(test.outcome) === 'pending';
      return el('li', {class: 'outcome-' + (running ? 'running' : outcomeClass(test.outcome))},
        el('span', {}, test.name), el('b', {}, running ? '…' : test.outcome || '…'));
    })));
}

function showLine(data) {
  const receivedAt = Date.now();
  const tiles = el('div', {id: 'tiles'}, (data.fixtures || []).map((f) => tile(f, receivedAt)));
  if (!data.fixtures || data.fixtures.length === 0) tiles.append(el('p', {}, 'No fixtures.'));
  main().replaceChildren(tiles);
  document.body.dataset.version = String(data.version);
  document.body.dataset.updates = String(Number(document.body.dataset.updates || 0) + 1);
}

function line() {
  setStatus('connecting…', 'down');
  let source = null;
  const open = () => {
    source = new EventSource('/api/fixtures/events');
    source.onmessage = (message) => {
      setStatus('live', 'up');
      showLine(JSON.parse(message.data));
    };
    source.onerror = () => {
      setStatus('station unreachable, reconnecting…', 'down');
      // The browser retries a dropped stream by itself, but gives up on an HTTP error (a
      // station at its limit of pages, a proxy's error page): then try again here.
      if (source.readyState === EventSource.CLOSED) setTimeout(open, 3000);
    };
  };
  open();
  setInterval(() => {
    for (const span of document.querySelectorAll('.elapsed[data-since]')) {
      span.textContent = duration((Date.now() - Number(span.dataset.since)) / 1000);
    }
  }, 1000);
}

// ---- History: the stored runs, newest first, filtered by the address's query.

function filterForm(action, fields) {
  const query = new URLSearchParams(location.search);
  const form = el('form', {action, method: 'get', class: 'filters'});
  for (const [name, label, choices, hint] of fields) {
    const value = query.get(name) || '';
    const input = choices
      ? el('select', {name}, el('option', {value: ''}, 'any'),
           choices.map((c) => el('option', {value: c, selected: c === value}, c)))
      : el('input', {name, value, placeholder: hint || '', size: 19});
    form.append(el('label', {}, label, input));
  }
  form.append(el('button', {type: 'submit'}, 'Show'));
  return form;
}

// Drops empty fields, so the address stays short and readable.
function queryOf(names) {
  const query = new URLSearchParams(location.search);
  const out = new URLSearchParams();
  for (const name of names) if (query.get(name)) out.set(name, query.get(name));
  return out.toString();
}

const TIME_HINT = '2026-12-08T09:30:00Z';

async function runs() {
  const names = ['unit', 'fixture', 'model', 'verdict', 'since', 'until'];
  const form = filterForm('/runs', [['unit', 'MAC'], ['fixture', 'Fixture'], ['model', 'Model'],
    ['verdict', 'Verdict', VERDICTS], ['since', 'Since', null, TIME_HINT],
    ['until', 'Until', null, TIME_HINT]]);
  main().replaceChildren(el('h1', {}, 'History'), form, el('p', {}, 'Loading…'));
  const data = await getJson('/api/runs?' + queryOf(names));
  const rows = (data.runs || []).map((run) => el('tr', {class: 'verdict-' + run.verdict},
    el('td', {}, runLink(run.id)), el('td', {}, run.start || ''), el('td', {}, run.fixture || ''),
    el('td', {}, run.unit ? el('a', {href: '/runs?unit=' + encodeURIComponent(run.unit)}, run.unit) : ''),
    el('td', {}, run.model || ''), el('td', {class: 'verdict'}, run.verdict || ''),
    el('td', {}, run.reason || '')));
  main().replaceChildren(el('h1', {}, 'History'), form,
    rows.length === 0 ? el('p', {}, 'No runs.') :
    el('table', {class: 'runs'}, el('thead', {}, el('tr', {}, ['Run', 'Start', 'Fixture', 'MAC',
      'Model', 'Verdict', 'Reason'].map((h) => el('th', {}, h)))), el('tbody', {}, rows)));
}

function facts(pairs) {
  return el('dl', {class: 'facts'}, pairs.filter(([, v]) => v !== null && v !== undefined && v !== '')
    .map(([k, v]) => [el('dt', {}, k), el('dd', {}, v)]));
}

// Each test's measurements as the record keeps them: name, value, limits, check.
function measurements(record) {
  const rows = [];
  for (const test of (record && Array.isArray(record.tests)) ? record.tests : []) {
    for (const m of Array.isArray(test.measurements) ? test.measurements : []) {
      rows.push(el('tr', {class: 'outcome-' + outcomeClass(m.check)}, el('td', {}, test.name),
        el('td', {}, m.name), el('td', {}, typeof m.value === 'object' ? JSON.stringify(m.value) : String(m.value)),
        el('td', {}, m.limits || ''), el('td', {}, m.check || '')));
    }
  }
  if (rows.length === 0) return null;
  return [el('h2', {}, 'Measurements'), el('table', {}, el('thead', {}, el('tr', {},
    ['Test', 'Measurement', 'Value', 'Limits', 'Check'].map((h) => el('th', {}, h)))), el('tbody', {}, rows))];
}

async function run(id) {
  main().replaceChildren(el('p', {}, 'Loading…'));
  const data = await getJson('/api/runs/' + id);
  if (typeof data.record === 'string') {
    try { data.record = JSON.parse(data.record); } catch (e) { /* shown as the text it is */ }
  }
  const log = await fetch('/api/runs/' + id + '/log', {cache: 'no-store'}).then((r) => r.ok ? r.text() : '');
  main().replaceChildren(el('div', {},
    el('h1', {class: 'verdict-' + data.verdict}, 'Run ' + Number(id) + ': ' + (data.verdict || '')),
    el('p', {class: 'downloads'}, el('a', {href: '/api/runs/' + id + '/junit', download: ''}, 'JUnit record'),
       ' ', el('a', {href: '/api/runs/' + id + '/record', download: ''}, 'JSON record'),
       ' ', el('a', {href: '/api/runs/' + id + '/log'}, 'raw log')),
    facts([['Fixture', data.fixture], ['MAC', data.unit], ['Model', data.model], ['Road', data.road],
      ['Reason', data.reason], ['Start', data.start], ['End', data.end]]),
    el('h2', {}, 'Tests'),
    el('table', {}, el('thead', {}, el('tr', {}, ['Test', 'Outcome', 'Start', 'Duration']
      .map((h) => el('th', {}, h)))), el('tbody', {}, (data.tests || []).map((t) =>
      el('tr', {class: 'outcome-' + outcomeClass(t.outcome || t.verdict)}, el('td', {}, t.name),
        el('td', {}, t.outcome || t.verdict || ''), el('td', {}, t.start || ''),
        el('td', {}, typeof t.duration === 'number' ? t.duration.toFixed(1) + ' s' : t.duration || ''))))),
    measurements(data.record),
    el('h2', {}, 'Record'), el('pre', {class: 'record'}, JSON.stringify(data.record, null, 2)),
    el('h2', {}, 'Console log'), el('pre', {class: 'log'}, log)));
}

// ---- Yield: the numbers of a period, model and fixture, and the failures' Pareto.

function percent(share) {
  if (share === null || share === undefined) return '–';
  return (share <= 1 ? share * 100 : share).toFixed(1) + ' %';
}

function pareto(failures) {
  const width = 900;
  const barArea = 300;
  const rowHeight = 26;
  const height = failures.length * rowHeight + 30;
  const max = Math.max(...failures.map((f) => f.count), 1);
  const total = failures.reduce((sum, f) => sum + f.count, 0);
  let cumulative = 0;
  const rows = failures.map((f, i) => {
    cumulative += f.count;
    const y = i * rowHeight + 20;
    const w = Math.max(2, (f.count / max) * barArea);
    return svg('g', {class: 'bar kind-' + (f.kind === 'step' ? 'step' : 'test')},
      svg('text', {x: 0, y: y + 17, class: 'name'}, (f.kind === 'step' ? 'step: ' : '') + f.name),
      svg('rect', {x: 360, y: y + 3, width: w, height: rowHeight - 6}),
      svg('text', {x: 366 + w, y: y + 17}, String(f.count)),
      svg('text', {x: width - 10, y: y + 17, 'text-anchor': 'end', class: 'cumulative'},
          Math.round((cumulative / total) * 100) + ' %'));
  });
  return svg('svg', {class: 'pareto', viewBox: '0 0 ' + width + ' ' + height, width, height,
      role: 'img', 'aria-label': 'failures by test and step, most frequent first'},
    svg('text', {x: 360, y: 12, class: 'axis'}, 'failures'),
    svg('text', {x: width - 10, y: 12, 'text-anchor': 'end', class: 'axis'}, 'cumulative'), rows);
}

function periodLinks() {
  const day = 24 * 3600 * 1000;
  const iso = (t) => new Date(t).toISOString().replace(/\.\d+Z$/, 'Z');
  const midnight = new Date();
  midnight.setHours(0, 0, 0, 0);
  const keep = new URLSearchParams(queryOf(['model', 'fixture']));
  const link = (label, since) => {
    const query = new URLSearchParams(keep);
    if (since) query.set('since', iso(since));
    return el('a', {href: '/stats?' + query.toString()}, label);
  };
  return el('p', {class: 'periods'}, 'Period: ', link('today', midnight.getTime()), ' ',
    link('7 days', Date.now() - 7 * day), ' ', link('30 days', Date.now() - 30 * day), ' ',
    link('all', 0));
}

async function stats() {
  const names = ['since', 'until', 'model', 'fixture'];
  const form = filterForm('/stats', [['since', 'Since', null, TIME_HINT],
    ['until', 'Until', null, TIME_HINT], ['model', 'Model'], ['fixture', 'Fixture']]);
  main().replaceChildren(el('h1', {}, 'Yield'), periodLinks(), form, el('p', {}, 'Loading…'));
  const s = await getJson('/api/stats?' + queryOf(names));
  const failures = (s.failures || []).filter((f) => f.count > 0);
  main().replaceChildren(el('h1', {}, 'Yield'), periodLinks(), form,
    el('div', {class: 'yields'},
      el('div', {class: 'big'}, el('span', {}, 'First-pass yield'), el('b', {}, percent(s.firstPassYield))),
      el('div', {class: 'big'}, el('span', {}, 'Final yield'), el('b', {}, percent(s.finalYield)))),
    facts([['Units', s.units], ['Attempts', s.attempts], ['Retests', s.retests],
      ['Incomplete runs', s.incomplete], ['Unidentified runs', s.unidentified],
      ['Normal boots', s.normalBoots], ['Unsupported models', s.unsupported]]),
    el('h2', {}, 'Failures'), failures.length ? pareto(failures) : el('p', {}, 'No failures.'));
}

// ---- Which page the address names.

function route() {
  const path = location.pathname;
  const done = path === '/' ? Promise.resolve(line())
    : path === '/runs' ? runs()
    : /^\/runs\/\d+$/.test(path) ? run(path.slice(6))
    : path === '/stats' ? stats() : Promise.resolve();
  for (const a of document.querySelectorAll('nav a')) {
    if (a.getAttribute('href') === path || (path.startsWith('/runs') && a.getAttribute('href') === '/runs')) {
      a.className = 'here';
    }
  }
  done.catch((error) => main().replaceChildren(el('p', {class: 'error'}, String(error.message || error))));
}

route();
