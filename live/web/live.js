// The live view of a chat room: enters and leaves the room, posts lines, and
// keeps the log and the member list current with long polls of the program's
// JSON jobs. Every text it shows comes from the page or from the program.
'use strict';

(function () {
  // ---- Page data: the program's values and texts ---------------------------
  const byId = (id) => document.getElementById(id);
  const config = byId('config').dataset;
  const texts = byId('texts').dataset;
  const ui = {
    picture: byId('picture'), log: byId('log'), lines: byId('lines'), earlier: byId('earlier'),
    status: byId('status'), alert: byId('alert'), members: byId('members'),
    entry: byId('entry'), chatName: byId('chat-name'), colour: byId('colour'),
    colourSwatch: byId('colour-swatch'), say: byId('say'), message: byId('message'),
    leave: byId('leave'), noRight: byId('no-right'),
  };
  const HOLD_MS = (parseInt(config.hold, 10) || 30) * 1000;
  const SLOW_MS = 10000;          // poll period once gateways cut long polls
  const PAGE_SIZE = '50';
  const baseTitle = document.title;
  const storeKey = 'velt-live:' + location.pathname + ':' + config.folder;

  // What the page holds of the room.
  const room = {
    name: '',            // the chat name while entered, '' outside
    color: '',
    cursor: '',          // cursor of the newest line held ('' holds none)
    oldest: '',          // cursor of the oldest line held
    more: false,         // the program has lines before the oldest held
    membersTag: '',      // tag of the member list shown
    unread: 0,
  };
  let busy = false;      // an entry, leave or post is on its way
  let paging = false;    // a page of earlier lines is on its way

  // ---- Calls of the program's JSON jobs ------------------------------------
  // The page's own address keeps the session keys (the browser's reload needs
  // them); no address the page makes carries them. Posts one job with the
  // credentials in the body. Resolves to
  // {status, data}; data is {} when the answer is not JSON (a gateway's page).
  // Rejects on a network failure or an abort.
  async function call(job, fields, signal) {
    const body = new URLSearchParams({
      JOB: job, FOLDER_NO: config.folder, uid: config.uid, SKEY1: config.skey1, SKEY2: config.skey2,
    });
    for (const key of Object.keys(fields)) body.append(key, fields[key]);
    // The program reads a body of exactly this type (fetch would add a
    // character set to it), UTF-8 as URLSearchParams encodes it.
    const res = await fetch(config.exe, {
      method: 'POST', body: body.toString(), signal, cache: 'no-store', credentials: 'same-origin',
      headers: { 'Content-Type': 'application/x-www-form-urlencoded', Accept: 'application/json' },
    });
    let data = null;
    try {
      data = await res.json();
    } catch (err) {
      data = null;
    }
    return { status: res.status, data: data && typeof data === 'object' ? data : {} };
  }

  // Like call(), but a network failure resolves to {status: 0, data: {}}.
  function attempt(job, fields, signal) {
    return call(job, fields, signal).catch(() => ({ status: 0, data: {} }));
  }

  // The program's message for a refusal, or the page's own fallback text.
  function messageOf(result, fallback) {
    return (result.data && typeof result.data.message === 'string' && result.data.message) ||
      fallback || texts.reconnecting;
  }

  // Refusals after which no job can succeed on this page.
  function isFatal(result) {
    return result.status === 401 || result.status === 404 ||
      (result.status === 403 && result.data.error !== 'no_right');
  }

  // ---- Status and alert regions --------------------------------------------
  // The status region speaks on a change of its text; the same text twice in
  // a row is emptied first so that it is said again.
  let sayTimer = 0;
  function say(text) {
    clearTimeout(sayTimer);
    if (ui.status.textContent === text) {
      ui.status.textContent = '';
      sayTimer = setTimeout(() => { ui.status.textContent = text; }, 100);
    } else {
      ui.status.textContent = text;
    }
  }

  function warn(text) {
    ui.alert.textContent = text;
  }

  // ---- The log ---------------------------------------------------------------
  const pad = (n) => String(n).padStart(2, '0');

  function todayStamp() {
    const d = new Date();
    return `${d.getFullYear()}/${pad(d.getMonth() + 1)}/${pad(d.getDate())}`;
  }

  // A <time> for a stamp "YYYY/MM/DD hh:mm": shows hh:mm today and the whole
  // stamp on other days; the whole stamp is always its title.
  function timeElement(stamp) {
    const time = document.createElement('time');
    const text = typeof stamp === 'string' ? stamp : '';
    const m = /^(\d{4})\/(\d{2})\/(\d{2}) (\d{2}):(\d{2})$/.exec(text);
    time.textContent = text;
    if (m) {
      time.dateTime = `${m[1]}-${m[2]}-${m[3]}T${m[4]}:${m[5]}`;
      time.title = text;
      if (text.slice(0, 10) === todayStamp()) time.textContent = `${m[4]}:${m[5]}`;
    }
    return time;
  }

  // The small square in a member's colour; the colour is the only thing a
  // member's choice changes, so names and text keep the page's contrast.
  function swatch(color) {
    const span = document.createElement('span');
    span.className = 'swatch';
    span.setAttribute('aria-hidden', 'true');
    span.style.backgroundColor = color || 'blue';
    return span;
  }

  function nameElement(name) {
    const b = document.createElement('b');
    b.className = 'name';
    b.textContent = name || '';
    return b;
  }

  function lineElement(line) {
    const li = document.createElement('li');
    const text = document.createElement('span');
    text.className = 'text';
    text.textContent = line.text || '';
    li.append(timeElement(line.time), ' ', swatch(line.color), nameElement(line.name), ' ', text);
    return li;
  }

  function elementsOf(lines) {
    const frag = document.createDocumentFragment();
    for (const line of lines) frag.append(lineElement(line));
    return frag;
  }

  // Changes the log without its live region announcing the change: the
  // region stays off until two frames later, when the accessibility tree has
  // taken the change in (in a hidden tab, until it is shown again).
  let quietCount = 0;
  function quietly(change) {
    quietCount++;
    ui.log.setAttribute('aria-live', 'off');
    change();
    requestAnimationFrame(() => requestAnimationFrame(() => {
      if (--quietCount === 0) ui.log.setAttribute('aria-live', 'polite');
    }));
  }

  function atBottom() {
    const log = ui.log;
    return log.scrollHeight - log.scrollTop - log.clientHeight < 48;
  }

  // New lines at the bottom, announced. Returns how many came from others.
  function appendLines(lines) {
    if (!lines.length) return 0;
    const follow = atBottom();
    ui.lines.append(elementsOf(lines));
    if (follow) ui.log.scrollTop = ui.log.scrollHeight;
    return lines.filter((line) => line.name !== room.name).length;
  }

  // The log afresh (entering, resuming, a reset), not announced.
  function replaceLines(lines) {
    quietly(() => ui.lines.replaceChildren(elementsOf(lines)));
    ui.log.scrollTop = ui.log.scrollHeight;
  }

  // Earlier lines at the top, not announced; the lines in view stay in view.
  function prependLines(lines) {
    const height = ui.log.scrollHeight;
    quietly(() => ui.lines.prepend(elementsOf(lines)));
    ui.log.scrollTop += ui.log.scrollHeight - height;
    return lines.length;
  }

  function updateEarlier() {
    ui.earlier.hidden = !ui.lines.firstChild;
  }

  // ---- The member list -------------------------------------------------------
  function showMembers(members) {
    const frag = document.createDocumentFragment();
    for (const member of members) {
      const li = document.createElement('li');
      li.append(swatch(member.color), nameElement(member.name));
      const mode = member.mode === 'user' ? texts.user : member.mode === 'shared' ? texts.shared : '';
      if (mode) {
        const span = document.createElement('span');
        span.className = 'mode';
        span.textContent = ` (${mode})`;
        li.append(span);
      }
      frag.append(li);
    }
    ui.members.replaceChildren(frag);
  }

  // ---- Unread count in the title ---------------------------------------------
  function countUnread(n) {
    if (!n || !document.hidden) return;
    room.unread += n;
    document.title = `(${room.unread}) ${baseTitle}`;
  }

  function clearUnread() {
    room.unread = 0;
    document.title = baseTitle;
  }

  // Takes in an answer of LIVE_ENTER, LIVE_POLL or LIVE_POST. The lines of a
  // poll or post answer follow the cursor it was asked with ("since"): when
  // that is no longer the page's (a poll and a post crossed), the answer is
  // stale and its lines are left to the next poll. A reset replaces the log
  // whatever it was asked with.
  function applyUpdate(data) {
    const lines = Array.isArray(data.lines) ? data.lines : [];
    let fromOthers = 0;
    if (data.reset) {
      replaceLines(lines);
      room.oldest = typeof data.oldest === 'string' ? data.oldest : '';
      room.more = Boolean(data.more);
      if (typeof data.cursor === 'string') room.cursor = data.cursor;
    } else if (data.since === room.cursor) {
      fromOthers = appendLines(lines);
      if (typeof data.cursor === 'string') room.cursor = data.cursor;
    }
    if (Array.isArray(data.members)) {
      showMembers(data.members);
      room.membersTag = typeof data.members_tag === 'string' ? data.members_tag : '';
    }
    updateEarlier();
    countUnread(fromOthers);
  }

  // ---- Polling with backoff --------------------------------------------------
  const poll = {
    running: false,      // the loop is wanted
    gen: 0,              // bumped on every stop, so that late answers are dropped
    ctrl: null,          // abort controller of the request on its way
    timer: 0,            // the wait before the next request
    quick: false,        // the next request answers at once (WAIT=0)
    failures: 0,         // failed polls in a row
    gateway: 0,          // gateway errors (502, 504) in a row
    slow: false,         // WAIT=0 every 10 s for the rest of the page's life
  };

  function stopPolling() {
    poll.running = false;
    poll.gen++;
    clearTimeout(poll.timer);
    poll.timer = 0;
    if (poll.ctrl) poll.ctrl.abort();
    poll.ctrl = null;
  }

  function startPolling() {
    stopPolling();
    poll.running = true;
    schedule(0);
  }

  function schedule(ms) {
    const gen = poll.gen;
    clearTimeout(poll.timer);
    poll.timer = setTimeout(() => {
      poll.timer = 0;
      if (gen === poll.gen) pollOnce(gen);
    }, ms);
  }

  // Polls at once when the loop is only waiting (the "online" event, the tab
  // shown again); a request on its way is left to finish.
  function wake() {
    if (poll.running && poll.timer && !poll.ctrl) schedule(0);
  }

  async function pollOnce(gen) {
    const ctrl = new AbortController();
    poll.ctrl = ctrl;
    const limit = setTimeout(() => ctrl.abort(), HOLD_MS + 15000);
    const result = await attempt('LIVE_POLL', {
      CHAT_NAME: room.name, CURSOR: room.cursor, MEMBERS: room.membersTag,
      WAIT: poll.quick || poll.slow ? '0' : '1',
    }, ctrl.signal);
    clearTimeout(limit);
    if (gen !== poll.gen) return;       // stopped or restarted meanwhile
    poll.ctrl = null;
    if (result.status === 200) pollSucceeded(result.data);
    else pollFailed(result);
  }

  function pollSucceeded(data) {
    if (poll.failures) say(texts.backOnline);
    poll.failures = 0;
    poll.gateway = 0;
    poll.quick = false;
    applyUpdate(data);
    schedule(poll.slow ? SLOW_MS : 0);
  }

  // 1, 2, 4 ... 60 s, each between half and one and a half of that, so that
  // pages that lost the program together do not come back together.
  function backoff(failures) {
    return Math.min(60, 2 ** (failures - 1)) * (0.5 + Math.random()) * 1000;
  }

  function pollFailed(result) {
    if (isFatal(result)) {
      stopPolling();
      warn(messageOf(result));
      return;
    }
    if (result.status === 409) {
      stopPolling();
      if (room.name) leftRoom(messageOf(result, texts.notInRoom));
      return;
    }
    if (!room.name && result.status >= 400 && result.status < 500) {
      stopPolling();                     // the program shows no log to visitors
      return;
    }
    if (result.status === 400) room.cursor = '';   // a cursor it no longer reads: start afresh
    poll.gateway = result.status === 502 || result.status === 504 ? poll.gateway + 1 : 0;
    if (poll.gateway >= 2) poll.slow = true;
    poll.failures++;
    if (poll.failures === 1) say(texts.reconnecting);
    schedule(backoff(poll.failures));
  }

  // ---- Entering, leaving, posting ------------------------------------------
  function remember() {
    try {
      sessionStorage.setItem(storeKey, JSON.stringify({ name: room.name, color: room.color }));
    } catch (err) { /* no storage: a reload shows the entry form */ }
  }

  function recall() {
    try {
      const entry = JSON.parse(sessionStorage.getItem(storeKey));
      return entry && typeof entry.name === 'string' && entry.name ? entry : null;
    } catch (err) {
      return null;
    }
  }

  function forget() {
    try {
      sessionStorage.removeItem(storeKey);
    } catch (err) { /* nothing kept */ }
  }

  function showInside() {
    ui.entry.hidden = true;
    ui.say.hidden = false;
  }

  // Back to the entry form; the log goes on as a visitor sees it.
  function leftRoom(message) {
    const hadFocus = ui.say.contains(document.activeElement) || document.activeElement === document.body;
    stopPolling();
    forget();
    ui.chatName.value = room.name || ui.chatName.value;
    room.name = '';
    room.membersTag = '';
    ui.say.hidden = true;
    ui.entry.hidden = false;
    warn(message);
    if (hadFocus) ui.chatName.focus();
    startPolling();
  }

  async function enter(event) {
    event.preventDefault();
    const name = ui.chatName.value;
    if (!name.trim()) {
      ui.chatName.setAttribute('aria-invalid', 'true');
      warn(texts.chatNameMissing);
      ui.chatName.focus();
      return;
    }
    ui.chatName.removeAttribute('aria-invalid');
    if (busy) return;
    busy = true;
    const result = await attempt('LIVE_ENTER', { CHAT_NAME: name, COLOR: ui.colour.value });
    busy = false;
    if (result.status !== 200) {
      warn(messageOf(result));
      return;
    }
    const data = result.data;
    stopPolling();
    room.name = typeof data.name === 'string' && data.name ? data.name : name;
    room.color = typeof data.color === 'string' ? data.color : ui.colour.value;
    room.membersTag = '';
    remember();
    warn('');
    applyUpdate(Object.assign({}, data, { reset: true }));
    showInside();
    ui.message.focus();
    startPolling();
  }

  async function leave() {
    if (busy) return;
    busy = true;
    const result = await attempt('LIVE_LEAVE', { CHAT_NAME: room.name, COLOR: room.color });
    busy = false;
    if (result.status === 200 || result.status === 409) {
      leftRoom('');
      ui.chatName.focus();
    } else {
      warn(messageOf(result));
    }
  }

  // Sends the line; the poll on its way is dropped, since the answer brings
  // what it would have brought. A refused line stays in the field.
  async function post(event) {
    event.preventDefault();
    const text = ui.message.value;
    if (!text.trim() || busy) return;
    busy = true;
    stopPolling();
    const result = await attempt('LIVE_POST', {
      CHAT_NAME: room.name, COLOR: room.color, CTALK: text, CURSOR: room.cursor,
    });
    busy = false;
    if (result.status === 200) {
      warn('');
      if (ui.message.value === text) ui.message.value = '';
      applyUpdate(result.data);
    } else if (result.status === 409) {
      leftRoom(messageOf(result, texts.notInRoom));
      return;
    } else {
      warn(messageOf(result));
      if (isFatal(result)) return;
    }
    startPolling();
  }

  // ---- History paging --------------------------------------------------------
  async function earlier() {
    if (!room.more || !room.oldest) {
      say(texts.noEarlier);
      return;
    }
    if (paging) return;
    paging = true;
    const result = await attempt('LIVE_HISTORY', {
      CHAT_NAME: room.name, BEFORE: room.oldest, COUNT: PAGE_SIZE,
    });
    paging = false;
    if (result.status !== 200) {
      if (result.status === 409 && room.name) leftRoom(messageOf(result, texts.notInRoom));
      else warn(messageOf(result));
      return;
    }
    const lines = Array.isArray(result.data.lines) ? result.data.lines : [];
    room.more = lines.length > 0 && Boolean(result.data.more);
    if (!lines.length) {
      say(texts.noEarlier);
      return;
    }
    if (typeof result.data.oldest === 'string') room.oldest = result.data.oldest;
    say(`${prependLines(lines)} ${texts.earlierLoaded}`);
  }

  // ---- Start: events, keyboard and focus -------------------------------------
  function showColour() {
    ui.colourSwatch.style.backgroundColor = '';
    ui.colourSwatch.style.backgroundColor = ui.colour.value || 'blue';
  }

  function init() {
    if (ui.picture && !ui.picture.getAttribute('src')) ui.picture.remove();
    ui.entry.addEventListener('submit', enter);
    ui.say.addEventListener('submit', post);
    ui.leave.addEventListener('click', leave);
    ui.earlier.addEventListener('click', earlier);
    ui.colour.addEventListener('input', showColour);
    ui.chatName.addEventListener('input', () => ui.chatName.removeAttribute('aria-invalid'));
    window.addEventListener('online', wake);
    document.addEventListener('visibilitychange', () => {
      if (document.hidden) return;
      clearUnread();
      wake();
    });
    showColour();

    const entered = recall();
    if (config.canWrite !== '1') {
      forget();
      ui.entry.hidden = true;
      ui.noRight.hidden = false;
    } else if (entered) {
      // A reload while inside: the first poll (WAIT=0, no cursor) brings the
      // lines back as a reset, or a 409 when the name was dropped meanwhile.
      room.name = entered.name;
      room.color = typeof entered.color === 'string' ? entered.color : '';
      showInside();
    }
    poll.quick = true;
    startPolling();
  }

  init();
}());
