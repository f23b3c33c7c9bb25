// The chat as people use it, in the distribution's Chromium driven by
// Playwright, against velt.cgi behind lighttpd on a temporary site that
// run.sh makes: two users at once (taro reads Japanese and administers the
// room, hanako reads English), the palette, posting, the member list, leaving,
// the settings form with a picture upload, and the pages' script policy.
// Environment: VELT_BASE_URL (the server), VELT_BROWSER_ARTIFACTS (where a
// failed run leaves its screenshots and console log).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { chromium } from 'playwright-core';
import { until } from './until.mjs';

const BASE = process.env.VELT_BASE_URL;
const ARTIFACTS = process.env.VELT_BROWSER_ARTIFACTS || 'browser-failures';
const FOLDER = 100;
const SITE_ID = 'demo';

// A w x h PNG in one colour, for the title picture.
function png(w, h) {
  const chunk = (type, data) => {
    const len = Buffer.alloc(4);
    len.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(zlib.crc32(body));
    return Buffer.concat([len, body, crc]);
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0);
  ihdr.writeUInt32BE(h, 4);
  ihdr.set([8, 2, 0, 0, 0], 8);
  const row = Buffer.concat([Buffer.from([0]), Buffer.alloc(w * 3, 0x40)]);
  const raw = Buffer.concat(Array(h).fill(row));
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

// One user's browser: the portal page, the room frames inside it, and what
// the pages said on the console and in their headers.
async function openUser(browser, who) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const user = { who, context, page, console: [], responses: [] };
  page.on('console', (m) => {
    if (m.type() === 'error' || m.type() === 'warning')
      user.console.push({ type: m.type(), text: m.text(), url: m.location().url });
  });
  page.on('pageerror', (e) => user.console.push({ type: 'pageerror', text: String(e), url: '' }));
  page.on('response', (r) => {
    if (r.url().includes('/cgi-bin/velt.cgi')) user.responses.push({ url: r.url(), headers: r.headers() });
  });
  const room = page.frameLocator('#room');
  user.room = room;
  user.title = room.frameLocator(`frame[name=FRM221SEL${FOLDER}]`);
  user.input = room.frameLocator(`frame[name=FRM222SEL${FOLDER}]`);
  user.list = room.frameLocator(`frame[name=FRM223SEL${FOLDER}]`);
  return user;
}

async function login(user, uid, pw) {
  await user.page.goto(`${BASE}/portal.html`);
  await user.page.fill('input[name=uid]', uid);
  await user.page.fill('input[name=upw]', pw);
  await user.page.click('button[value=ROOM]');
  await user.input.locator('input[type=text][name=CHAT_NAME]').waitFor();
}

// The submit button of the form that posts `job` (the talk form's table
// holds the leave and member list forms inside it, so only direct children).
const submitOf = (frame, job) =>
  frame.locator(job === 'CWRITE' ? 'input[name=CTALK] ~ table input[name=SUB]'
    : `form:has(> input[name=JOB][value=${job}]) > input[type=submit]`);
const text = (frame) => frame.locator('body').innerText();

async function enter(user, name) {
  await user.input.locator('input[type=text][name=CHAT_NAME]').fill(name);
  await user.input.locator('select[name=RELOAD_TIME]').selectOption('10');
  await submitOf(user.input, 'ROOM_IN').click();
  await user.input.locator('input[name=CTALK]').waitFor();
}

// Posts a line; the talk form's own timer empties the field afterwards.
async function post(user, line) {
  const field = user.input.locator('input[name=CTALK]');
  await field.fill(line);
  await submitOf(user.input, 'CWRITE').click();
  await until(async () => (await field.inputValue()) === '', 'the talk line to be cleared');
  await until(async () => (await text(user.list)).includes(line), `"${line}" in ${user.who}'s list`);
}

test('two users chat, the administrator sets up the room, and no foreign script runs', { timeout: 150000 },
  async () => {
    const browser = await chromium.launch({
      executablePath: process.env.VELT_CHROMIUM || '/usr/bin/chromium',
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync'],
    });
    const taro = await openUser(browser, 'taro');
    const hanako = await openUser(browser, 'hanako');
    let flag, flagB;  // what a payload would have set in each user's portal page
    try {
      await Promise.all([login(taro, 'taro', 'taro123'), login(hanako, 'hanako', 'hanako123')]);

      // hanako picks her colour from the palette, which reloads the room page.
      await submitOf(hanako.input, 'COLOR_SELECT').click();
      await hanako.list.locator('a', { hasText: /^Navy$/ }).click();
      await until(async () => (await hanako.input.locator('input[name=COLOR]').inputValue()) === 'Navy',
        'the palette colour in the entry form');

      await Promise.all([enter(taro, '太郎'), enter(hanako, 'Hanako')]);
      // Japanese, the wave dash U+301C and an emoji, which Shift_JIS cannot
      // hold and the browser sends as references; and text that looks like HTML.
      const jp = 'こんにちは〜世界～です 😀';
      const html = '<b>not bold</b> & "q" <script>top.pwned="post"</script>';
      await post(taro, jp);
      await post(hanako, html);
      // Each sees the other's line when the list reloads itself.
      await Promise.all([
        until(async () => (await text(taro.list)).includes(html), 'hanako\'s line at taro', 25000),
        until(async () => (await text(hanako.list)).includes(jp), 'taro\'s line at hanako', 25000),
      ]);
      assert.equal(await hanako.list.locator('b', { hasText: 'not bold' }).count(), 0);
      assert.equal(await hanako.list.locator('font[color=Navy]', { hasText: 'Hanako' }).count() > 0, true);

      // The member list shows both; after hanako leaves, only taro.
      await submitOf(taro.input, 'FRM223').click();
      await until(async () => /total:\[2\]/.test(await text(taro.list)), 'two members');
      const members = await text(taro.list);
      assert.ok(members.includes('太郎') && members.includes('Hanako'), members);
      await submitOf(hanako.input, 'ROOM_OUT').click();
      await hanako.input.locator('input[type=text][name=CHAT_NAME]').waitFor();
      await submitOf(taro.input, 'FRM223').click();
      await until(async () => /total:\[1\]/.test(await text(taro.list)), 'one member after leaving');

      // taro administers the room: name, information text with markup and
      // script, and a title picture.
      const name = '会議室 <i>x</i> & co';
      const info = '<b id="welcome">ようこそ</b> <i>markup</i>\r\n<script>top.pwned="script"</script>' +
        '<img src=x onerror="top.pwned=\'onerror\'"><a id="evil" href="javascript:top.pwned=\'href\'">evil</a>';
      await taro.title.locator('input[type=submit]').click();
      await taro.room.locator('input[name=NAME]').fill(name);
      await taro.room.locator('textarea[name=INFO]').fill(info);
      await taro.room.locator('input[name=TITLEPIC]').setInputFiles(
        { name: 'title.png', mimeType: 'image/png', buffer: png(24, 12) });
      await taro.room.locator('input[name=SUB]').click();
      await until(async () => (await text(taro.room)).includes('title.png'), 'the stored picture name');
      assert.equal(await taro.room.locator('input[name=NAME]').inputValue(), name);

      // Back in the room: the name as text, the picture, the markup shown, and
      // none of the payloads run.
      await login(taro, 'taro', 'taro123');
      await until(async () => (await taro.title.locator('#welcome').innerText()) === 'ようこそ', 'the information text');
      assert.equal(await taro.title.locator('font[size="5"] b').innerText(), name);
      assert.equal(await taro.title.locator('i', { hasText: 'x' }).count(), 0);
      await until(() => taro.title.locator('img[src*="JOB=BG4_DL"]').evaluate((i) => i.complete && i.naturalWidth === 24),
        'the title picture');
      await taro.title.locator('#evil').click();
      await until(() => taro.console.some((m) => / the JavaScript URL/.test(m.text)), 'the refused javascript: address');
      // The program's own scripts still run in that page.
      assert.equal(await taro.title.locator('body').evaluate(() => typeof postcheck), 'function');
      await until(async () => (await taro.title.locator('img[src=x]').count()) === 1, 'the payload picture');
    } catch (e) {
      fs.mkdirSync(ARTIFACTS, { recursive: true });
      for (const u of [taro, hanako]) {
        await u.page.screenshot({ path: path.join(ARTIFACTS, `${u.who}.png`), fullPage: true }).catch(() => {});
        fs.writeFileSync(path.join(ARTIFACTS, `${u.who}-console.json`), JSON.stringify(u.console, null, 1));
      }
      throw e;
    } finally {
      flag = await taro.page.evaluate(() => window.pwned).catch((e) => String(e));
      flagB = await hanako.page.evaluate(() => window.pwned).catch((e) => String(e));
      await browser.close();
    }
    assert.equal(flag, undefined, 'a payload ran at taro');
    assert.equal(flagB, undefined, 'a payload ran at hanako');

    // The information text's payloads were refused, each once: an inline
    // script, an inline handler, a javascript: address (and the payload
    // picture's address does not exist). Nothing else on any page.
    const refused = (re) => taro.console.filter((m) => re.test(m.text)).length;
    // (Chromium words these "Refused to execute inline script ..." or
    // "Executing inline script violates ...", by version.)
    const SCRIPT = /(Refused to execute|Executing) inline script/;
    const HANDLER = /(Refused to execute|Executing) inline event handler/;
    const ADDRESS = /(Refused to run|Running) the JavaScript URL/;
    const log = JSON.stringify(taro.console);
    assert.equal(refused(SCRIPT), 1, log);
    assert.equal(refused(HANDLER), 1, log);
    assert.equal(refused(ADDRESS), 1, log);
    const payload = (m) => [SCRIPT, HANDLER, ADDRESS].some((re) => re.test(m.text)) && /JOB=FRM221&/.test(m.url);
    // The portal page's icon is the web server's, not the program's.
    const missing = (m) => /Failed to load resource/.test(m.text) && /\/(cgi-bin\/x|favicon\.ico)$/.test(m.url);
    const expected = (m) => payload(m) || missing(m);
    assert.deepEqual(taro.console.filter((m) => !expected(m)), []);
    assert.deepEqual(hanako.console.filter((m) => !missing(m)), []);

    // Every page came with its policy and no referrer; every picture with nosniff.
    const all = [...taro.responses, ...hanako.responses];
    const pages = all.filter((r) => (r.headers['content-type'] || '').startsWith('text/html'));
    assert.ok(pages.length >= 20, `pages seen: ${pages.length}`);
    for (const r of pages) {
      assert.match(r.headers['content-security-policy'] || '', /^script-src 'unsafe-hashes' 'sha256-.*; object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'self'$/, r.url);
      assert.equal(r.headers['referrer-policy'], 'no-referrer', r.url);
    }
    const pictures = all.filter((r) => r.url.includes('JOB=BG4_DL'));
    assert.ok(pictures.length >= 1);
    for (const r of pictures) assert.equal(r.headers['x-content-type-options'], 'nosniff');
  });
