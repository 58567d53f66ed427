// The operator panel: renders the state the server sends (the station's tiles and counts, or
// the factory's stations and tables) and nothing else. Every text from the server goes in
// through textContent, so a name full of markup is shown as the text it is.
'use strict';

(() => {
  const params = new URLSearchParams(location.search);
  const token = params.get('token') || '';
  let texts = {};
  let languages = {};
  let language = 'en';
  let state = null;
  let receivedAt = 0;
  let initial = true;  // the first state after a (re)connect: its endings are not news
  const announced = new Map();  // slot -> the ending last announced
  let chartsVersion = -1;
  let chartsAt = 0;

  function url(path, extra) {
    const query = new URLSearchParams(extra || {});
    if (token) query.set('token', token);
    const text = query.toString();
    return text ? path + '?' + text : path;
  }

  function t(key, values) {
    let text = texts[key] !== undefined ? texts[key] : key;
    for (const [name, value] of Object.entries(values || {})) {
      text = text.split('{' + name + '}').join(String(value));
    }
    return text;
  }

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function duration(ms) {
    const seconds = Math.max(0, Math.floor(ms / 1000));
    const m = Math.floor(seconds / 60);
    const s = seconds % 60;
    return m + ':' + String(s).padStart(2, '0');
  }

  function clock(ms) {
    return new Date(ms).toISOString().replace('T', ' ').slice(0, 19) + ' UTC';
  }

  async function loadTexts(wanted) {
    const response = await fetch(url('texts.json', wanted ? { lang: wanted } : {}));
    const table = await response.json();
    texts = table.texts;
    languages = table.languages;
    language = table.lang;
    document.documentElement.lang = language;
    for (const node of document.querySelectorAll('[data-text]')) {
      node.textContent = t(node.dataset.text);
    }
    const select = document.getElementById('language');
    select.replaceChildren();
    for (const [code, name] of Object.entries(languages)) {
      const option = el('option', '', name);
      option.value = code;
      option.selected = code === language;
      select.append(option);
    }
  }

  function setConnection(live) {
    const node = document.getElementById('connection');
    node.textContent = live ? t('connection_live') : t('connection_lost');
    node.classList.toggle('lost', !live);
  }

  function counts(list) {
    const dl = document.getElementById('counts');
    dl.replaceChildren();
    for (const [key, value] of list) {
      const box = el('div');
      box.dataset.count = key;
      box.append(el('dt', '', t(key)), el('dd', '', String(value)));
      dl.append(box);
    }
  }

  function detail(label, value, className) {
    const p = el('p', 'detail' + (className ? ' ' + className : ''));
    p.append(el('strong', '', label + ': '), document.createTextNode(value));
    return p;
  }

  function stateWords(tile) {
    if (tile.state === 'running') {
      return t('phase_' + tile.phase) + ' ' + tile.percent + ' %';
    }
    return t('state_' + tile.state);
  }

  function renderTile(tile, now) {
    const li = el('li', 'tile');
    li.tabIndex = 0;
    li.dataset.state = tile.state;
    li.dataset.slot = tile.slot;
    const slotLabel = state.bays ? t('label_bay') : t('label_slot');
    li.append(el('p', 'slot', slotLabel + ' ' + tile.slot));
    li.append(el('p', 'device', tile.device || '\u2014'));
    const words = stateWords(tile);
    li.append(el('p', 'state', words));
    if (tile.state === 'running') {
      const bar = el('progress');
      bar.max = 100;
      bar.value = tile.percent;
      bar.setAttribute('aria-label', t('label_progress'));
      li.append(bar);
    }
    if (tile.boardCode) li.append(detail(t('label_board'), tile.boardCode));
    if (tile.state === 'running' || tile.state === 'passed' || tile.state === 'failed') {
      const elapsed = tile.state === 'running' ? tile.elapsedMs + (now - receivedAt) : tile.elapsedMs;
      li.append(detail(t('label_elapsed'), duration(elapsed), 'elapsed'));
    }
    if (tile.state === 'failed' || tile.state === 'skipped') {
      li.append(detail(t('label_result'), tile.result, 'result'));
    }
    if (tile.state === 'failed') {
      if (tile.cause) li.append(detail(t('label_cause'), tile.cause, 'cause'));
      if (tile.remedy) li.append(detail(t('label_remedy'), tile.remedy, 'remedy'));
    }
    li.setAttribute('aria-label', slotLabel + ' ' + tile.slot + ', ' + (tile.device || '') + ', ' + words);
    return li;
  }

  function announce(tile) {
    if (tile.state !== 'passed' && tile.state !== 'failed') {
      announced.delete(tile.slot);
      return;
    }
    const key = tile.device + '|' + tile.state + '|' + tile.elapsedMs;
    if (announced.get(tile.slot) === key) return;
    announced.set(tile.slot, key);
    if (initial) return;
    const words = tile.state === 'passed'
      ? t('announce_passed', { slot: tile.slot, device: tile.device })
      : t('announce_failed', { slot: tile.slot, device: tile.device, result: tile.result });
    document.getElementById('announce').textContent = words;
  }

  function table(columns, rows) {
    if (rows.length === 0) return el('p', '', t('nothing_yet'));
    const tableNode = el('table');
    const head = el('tr');
    for (const [key] of columns) head.append(el('th', '', t(key)));
    tableNode.append(el('thead'));
    tableNode.tHead.append(head);
    const body = el('tbody');
    for (const row of rows) {
      const tr = el('tr');
      for (const [, value, numeric] of columns) {
        tr.append(el('td', numeric ? 'number' : '', String(value(row))));
      }
      body.append(tr);
    }
    tableNode.append(body);
    return tableNode;
  }

  function yieldText(passed, devices) {
    return devices === 0 ? '\u2014' : Math.round(passed * 100 / devices) + ' %';
  }

  function focusedSlot() {
    const active = document.activeElement;
    return active && active.dataset ? active.dataset.slot : undefined;
  }

  // What each part of the page was last drawn from: only what changed is drawn again, so a
  // page that follows a busy station costs its browser little.
  const drawn = new Map();
  function once(key, value, draw) {
    const text = language + JSON.stringify(value);
    if (drawn.get(key) === text) return;
    drawn.set(key, text);
    draw();
  }

  // The tiles, each made again only when what it shows changed; focus stays on its slot.
  function replaceTiles(items, make, keyOf) {
    const list = document.getElementById('tiles');
    const keep = focusedSlot();
    const old = [...list.children];
    const next = items.map((item, i) => {
      const key = language + keyOf(item);
      if (old[i] && old[i].dataset.key === key) return old[i];
      const node = make(item);
      node.dataset.key = key;
      return node;
    });
    if (next.length === old.length) {
      next.forEach((node, i) => { if (node !== old[i]) old[i].replaceWith(node); });
    } else {
      list.replaceChildren(...next);
    }
    if (keep !== undefined && focusedSlot() !== keep) {
      const again = next.find((node) => node.dataset.slot === keep);
      if (again) again.focus();
    }
  }

  // A running tile's elapsed time is kept by the ticker: it does not make the tile anew.
  function tileKey(tile) {
    return JSON.stringify(tile.state === 'running' ? { ...tile, elapsedMs: 0 } : tile) + state.bays;
  }

  function renderStation(now) {
    document.title = t('title_station', { station: state.station });
    document.getElementById('title').textContent = t('title_station', { station: state.station });
    document.getElementById('subtitle').textContent = t('label_image') + ': ' + state.image;
    document.getElementById('image-line').textContent =
      t('label_signature') + ': ' + state.signature + (state.signerKeyId ? ' (' + state.signerKeyId + ')' : '');
    document.getElementById('tiles-heading').textContent = state.bays ? t('tiles_bays') : t('tiles_slots');
    const c = state.counts;
    const shown = [['count_passed', c.passed], ['count_failed', c.failed], ['count_skipped', c.skipped],
                   ['count_in_progress', c.inProgress], ['count_per_hour', c.perHour]];
    once('counts', shown, () => counts(shown));
    replaceTiles(state.tiles, (tile) => renderTile(tile, now), tileKey);
    for (const tile of state.tiles) announce(tile);
    once('failures', [state.failures, state.bays], () => {
      document.getElementById('failures').replaceChildren(state.failures.length === 0
        ? el('p', '', t('no_failures')) : table([
          ['label_time', (f) => clock(f.timeMs)],
          [state.bays ? 'label_bay' : 'label_device', (f) => state.bays ? f.bay + ' ' + f.device : f.device],
          ['label_result', (f) => f.result],
          ['label_cause', (f) => f.cause],
          ['label_remedy', (f) => f.remedy]], state.failures));
    });
    document.getElementById('failures-section').hidden = false;
    document.getElementById('factory-section').hidden = true;
    const charts = document.getElementById('charts-section');
    charts.hidden = !state.charts;
    const ended = c.passed + c.failed;
    if (state.charts && ended !== chartsVersion && now - chartsAt > 2000) {
      chartsVersion = ended;
      chartsAt = now;
      const yieldChart = document.getElementById('chart-yield');
      yieldChart.alt = t('chart_yield_alt');
      yieldChart.src = url('chart/yield.svg', { lang: language, n: ended });
      const endings = document.getElementById('chart-endings');
      endings.alt = t('chart_endings_alt');
      endings.src = url('chart/endings.svg', { lang: language, n: ended });
    }
  }

  function renderFactory(now) {
    document.title = t('title_factory');
    document.getElementById('title').textContent = t('title_factory');
    document.getElementById('subtitle').textContent =
      state.error ? clock(state.nowMs || Date.now()) + ' \u2014 ' + state.error : clock(state.nowMs);
    document.getElementById('tiles-heading').textContent = t('tiles_stations');
    const stations = state.stations || [];
    const live = stations.filter((s) => s.state === 'live').length;
    const quiet = stations.filter((s) => s.state === 'quiet').length;
    const offline = stations.length - live - quiet;
    const shown = [['station_live', live], ['station_quiet', quiet], ['station_offline', offline]];
    once('counts', shown, () => counts(shown));
    replaceTiles(stations, (station) => {
      const li = el('li', 'tile');
      li.tabIndex = 0;
      li.dataset.state = station.state;
      li.dataset.slot = station.station;
      li.append(el('p', 'device', station.station));
      li.append(el('p', 'state', t('station_' + station.state)));
      li.append(detail(t('label_last_seen'), station.lastSeenMs
        ? clock(station.lastSeenMs) + ' (' + t('minutes_ago', { n: Math.floor((state.nowMs - station.lastSeenMs) / 60000) }) + ')'
        : '\u2014'));
      if (station.version) li.append(detail(t('label_version'), station.version));
      if (station.image) li.append(detail(t('label_image'), station.image));
      if (station.bays) li.append(detail(t('tiles_bays'), station.bays));
      li.append(detail(t('label_today'), station.todayPassed + ' / ' + station.todayAttempts));
      li.setAttribute('aria-label', station.station + ', ' + t('station_' + station.state));
      return li;
    }, (station) => JSON.stringify(station) + Math.floor((state.nowMs - station.lastSeenMs) / 60000));
    document.getElementById('failures-section').hidden = true;
    document.getElementById('charts-section').hidden = true;
    document.getElementById('factory-section').hidden = false;
    const yieldColumns = (key, value) => [[key, value],
      ['col_devices', (r) => r.devices, true], ['col_first_pass', (r) => r.firstPassed, true],
      ['col_yield', (r) => yieldText(r.firstPassed, r.devices), true]];
    document.getElementById('yield-table').replaceChildren(
      table(yieldColumns('col_station', (r) => r.station), state.yieldByStation || []),
      table(yieldColumns('col_image', (r) => r.image), state.yieldByImage || []),
      table(yieldColumns('col_day', (r) => r.day), state.yieldByDay || []));
    document.getElementById('causes-table').replaceChildren(table([
      ['col_ending', (r) => r.result], ['col_count', (r) => r.count, true],
      ['label_cause', (r) => r.cause], ['label_remedy', (r) => r.remedy]], state.causes || []));
    document.getElementById('worst-table').replaceChildren(table([
      ['col_station', (r) => r.station], ['label_bay', (r) => r.bay],
      ['col_attempts', (r) => r.attempts, true], ['col_failures', (r) => r.failures, true],
      ['col_yield', (r) => yieldText(r.firstPassed, r.devices), true]], state.worstBays || []));
  }

  function render() {
    if (!state) return;
    const now = Date.now();
    if (state.kind === 'factory') renderFactory(now); else renderStation(now);
    document.body.dataset.version = String(state.version);
  }

  function connect() {
    const source = new EventSource(url('events'));
    source.addEventListener('state', (message) => {
      const next = JSON.parse(message.data);
      if (state && next.startedMs !== state.startedMs) announced.clear();
      state = next;
      receivedAt = Date.now();
      render();
      initial = false;
      setConnection(true);
    });
    source.addEventListener('open', () => setConnection(true));
    source.addEventListener('error', () => {
      setConnection(false);
      initial = true;
    });
  }

  function contrast(on) {
    document.body.classList.toggle('contrast', on);
    document.body.classList.toggle('normal', !on);
    document.getElementById('contrast').setAttribute('aria-pressed', String(on));
    try { localStorage.setItem('tarvik-contrast', on ? '1' : '0'); } catch (e) { /* private mode */ }
  }

  document.addEventListener('DOMContentLoaded', async () => {
    let saved = null;
    try { saved = localStorage.getItem('tarvik-contrast'); } catch (e) { /* private mode */ }
    contrast(params.get('contrast') === '1' || saved === '1');
    document.getElementById('contrast').addEventListener('click', () =>
      contrast(!document.body.classList.contains('contrast')));
    document.getElementById('language').addEventListener('change', async (event) => {
      await loadTexts(event.target.value);
      chartsVersion = -1;
      chartsAt = 0;
      render();
    });
    const wanted = params.get('lang') || (navigator.languages || [navigator.language])
      .map((l) => String(l).slice(0, 2)).find((l) => l.length === 2);
    await loadTexts(wanted);
    setConnection(false);
    connect();
    setInterval(() => {
      if (state && state.kind === 'station' && state.counts.inProgress > 0) {
        for (const node of document.querySelectorAll('.tile[data-state="running"] .elapsed')) {
          const tile = state.tiles.find((x) => x.slot === node.closest('.tile').dataset.slot);
          if (tile) node.lastChild.textContent = duration(tile.elapsedMs + (Date.now() - receivedAt));
        }
      }
    }, 1000);
  });
})();
