// The live view of a room in the distribution's Chromium driven by
// Playwright, against velt.cgi behind lighttpd on the temporary site that
// run.sh makes (room 101 with an information text and a title picture;
// kenji and mika): a member in the classic frames and one in the live view
// seeing each other's lines, a phone's viewport, the dark scheme, a post by
// keyboard alone, reconnecting, axe-core's checks entered and not in both
// schemes, and that no script runs but the page's own and nothing goes to
// the console. Environment: VELT_BASE_URL, VELT_BROWSER_ARTIFACTS.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { chromium } from 'playwright-core';
import { until } from './until.mjs';

const BASE = process.env.VELT_BASE_URL;
const ARTIFACTS = process.env.VELT_BROWSER_ARTIFACTS || 'browser-failures';
const FOLDER = 101;
const AXE = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const POLICY = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; " +
  "form-action 'self'; base-uri 'none'; frame-ancestors 'self'";

let browser;
const opened = [];   // every user's browser, for the failure artifacts and the console check

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.VELT_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
});

// A user's browser context: what its pages said on the console, which
// scripts they loaded, every request the program got from them.
async function openUser(who, options = {}) {
  const context = await browser.newContext(options);
  const page = await context.newPage();
  const user = { who, context, page, console: [], scripts: [], requests: [], documents: [], offline: false, refusal: 0 };
  page.on('console', (m) => {
    // While the test holds the network down, the failed requests are its
    // own doing; so is a refusal it provokes (the browser logs each).
    if (user.offline && /ERR_INTERNET_DISCONNECTED/.test(m.text())) return;
    if (user.refusal && m.text().includes(`status of ${user.refusal} `)) {
      user.refusal = 0;
      return;
    }
    if (m.type() === 'error' || m.type() === 'warning')
      user.console.push({ type: m.type(), text: m.text(), url: m.location().url });
  });
  page.on('pageerror', (e) => user.console.push({ type: 'pageerror', text: String(e), url: '' }));
  page.on('request', (r) => {
    if (r.resourceType() === 'script') user.scripts.push(r.url());
    if (r.url().includes('/cgi-bin/velt.cgi')) user.requests.push({ url: r.url(), type: r.resourceType() });
  });
  page.on('response', (r) => {
    if (r.request().resourceType() === 'document' && /JOB=LIVE(&|$)/.test(r.url()))
      user.documents.push({ url: r.url(), headers: r.headers() });
  });
  opened.push(user);
  return user;
}

// Logs in through the portal of room 101 with the button of `view` (ROOM
// the classic frames, LIVE the live view). Returns the room frame.
async function login(user, uid, pw, view) {
  await user.page.goto(`${BASE}/portal-live.html`);
  await user.page.fill('input[name=uid]', uid);
  await user.page.fill('input[name=upw]', pw);
  await user.page.click(`button[value=${view}]`);
  return user.page.frame({ name: 'FRM22demo' });
}

// The live view opened by a password login from the portal, then at its own
// address (which carries the key) as the whole page.
async function openLive(user, uid, pw) {
  const frame = await login(user, uid, pw, 'LIVE');
  await until(() => /JOB=LIVE$/.test(frame.url()) && frame.locator('#chat-name').count(), 'the live page in the portal');
  const address = frame.url();
  assert.match(address, /\?uid=\w+&SKEY1=\d+&SKEY2=\d+&FOLDER_NO=101&JOB=LIVE$/);
  await user.page.goto(address);
  await user.page.locator('#chat-name').waitFor();
  return address;
}

// Enters under name by mouse-free means that any user has: the form's
// button.
async function enterLive(user, name) {
  await user.page.fill('#chat-name', name);
  await user.page.click('#enter');
  await user.page.locator('#message').waitFor();
}

const logText = (user) => user.page.locator('#lines').innerText();

async function axeCheck(user, what) {
  await user.page.evaluate(AXE);
  const result = await user.page.evaluate(() => window.axe.run(document));
  const violations = result.violations.map((v) => `${v.id}: ${v.help} (${v.nodes.map((n) => n.target).join(', ')})`);
  assert.deepEqual(violations, [], `axe-core in ${what}`);
  assert.ok(result.passes.length >= 20, `axe-core ran ${result.passes.length} checks in ${what}`);
}

// The live page runs its one script and nothing else: no inline script,
// and no text posted as markup ran.
async function pageOwnScriptOnly(user) {
  const scripts = await user.page.evaluate(() => [...document.scripts].map((s) => s.src));
  assert.equal(scripts.length, 1, user.who);
  assert.match(scripts[0], /\/cgi-bin\/velt\.cgi\?JOB=LIVE_ASSET&NAME=live\.js&V=[0-9a-f]{16}$/);
  assert.equal(await user.page.evaluate(() => window.pwned), undefined);
}

// A failed test leaves each open page's screenshot and console log.
async function artifacts(e) {
  fs.mkdirSync(ARTIFACTS, { recursive: true });
  for (const u of opened) {
    await u.page.screenshot({ path: path.join(ARTIFACTS, `live-${u.who}.png`), fullPage: true }).catch(() => {});
    fs.writeFileSync(path.join(ARTIFACTS, `live-${u.who}-console.json`), JSON.stringify(u.console, null, 1));
  }
  throw e;
}

test('a member in the classic frames and one in the live view see each other\'s lines', { timeout: 90000 },
  async () => {
    const mika = await openUser('mika-classic');
    const kenji = await openUser('kenji-live');
    try {
      // mika in the classic frames, reloading every 10 s (the shortest).
      await login(mika, 'mika', 'mika123', 'ROOM');
      const frames = mika.page.frameLocator('#room');
      const mInput = frames.frameLocator(`frame[name=FRM222SEL${FOLDER}]`);
      const mList = frames.frameLocator(`frame[name=FRM223SEL${FOLDER}]`);
      await mInput.locator('input[name=CHAT_NAME]').fill('Mika');
      await mInput.locator('select[name=RELOAD_TIME]').selectOption('10');
      await mInput.locator('form:has(> input[name=JOB][value=ROOM_IN]) > input[type=submit]').click();
      await mInput.locator('input[name=CTALK]').waitFor();

      await openLive(kenji, 'kenji', 'kenji123');
      await enterLive(kenji, 'Kenji');
      await until(async () => (await kenji.page.locator('#members').innerText()).includes('Mika'), 'Mika listed');

      // mika posts: kenji's log has the line within 2 s of her click, without
      // any reload.
      const classicLine = 'from the classic frames: こんにちは 😀';
      await mInput.locator('input[name=CTALK]').fill(classicLine);
      const posted = Date.now();
      await mInput.locator('input[name=CTALK] ~ table input[name=SUB]').click();
      await until(async () => (await logText(kenji)).includes(classicLine), 'the classic line in the live view', 2000);
      const seenLive = Date.now() - posted;
      await until(async () => (await mList.locator('body').innerText()).includes(classicLine), 'the post\'s answer');

      // kenji posts: his own line at once, and mika's list shows it at its
      // own next reload (10 s), without her doing anything.
      const liveLine = 'from the live view: <b>not bold</b> & "quoted" <img src=x onerror="window.pwned=1">' +
        '<script>window.pwned=2</script>';
      await kenji.page.fill('#message', liveLine);
      const sent = Date.now();
      await kenji.page.click('#send');
      await until(async () => (await logText(kenji)).includes(liveLine), 'kenji\'s own line', 2000);
      assert.equal(await kenji.page.inputValue('#message'), '');
      await until(async () => (await mList.locator('body').innerText()).includes(liveLine), 'the live line in the classic list', 12000);
      const seenClassic = Date.now() - sent;
      assert.equal(await mList.locator('b', { hasText: 'not bold' }).count(), 0);
      assert.equal(await kenji.page.locator('#lines b', { hasText: 'not bold' }).count(), 0);
      console.log(`classic line in the live view ${seenLive} ms after the click; live line in the classic list ` +
        `after ${seenClassic} ms (its reload)`);

      // The browser's reload of the live page resumes: the log again, no
      // second entry notice.
      await kenji.page.reload();
      await until(async () => (await logText(kenji)).includes(liveLine), 'the log after the reload');
      assert.equal(await kenji.page.locator('#message').isVisible(), true);
      const entries = (await logText(kenji)).split('\n').filter((l) => /Kenji\s*has entered the room\./.test(l));
      assert.equal(entries.length, 1, await logText(kenji));

      // Leaving in the live view: mika's list has the notice.
      await kenji.page.click('#leave');
      await kenji.page.locator('#chat-name').waitFor();
      await until(async () => /Kenji\W+has left the room\./.test(await mList.locator('body').innerText()), 'the leave notice', 12000);
      await pageOwnScriptOnly(kenji);
    } catch (e) {
      await artifacts(e);
    }
    await Promise.all([mika.context.close(), kenji.context.close()]);
  });

test('a phone, the dark scheme, the keyboard alone, reconnecting and axe-core', { timeout: 120000 }, async () => {
  const phone = await openUser('kenji-phone', { viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true,
    deviceScaleFactor: 2 });
  const dark = await openUser('mika-dark', { colorScheme: 'dark' });
  try {
    const address = await openLive(phone, 'kenji', 'kenji123');
    await openLive(dark, 'mika', 'mika123');

    // Not entered: light on the phone, dark on the desktop; axe finds nothing.
    const noSideways = () => phone.page.evaluate(() =>
      document.documentElement.scrollWidth <= document.documentElement.clientWidth);
    assert.equal(await noSideways(), true, 'sideways scroll before entering');
    await axeCheck(phone, 'the light page, not entered');
    await axeCheck(dark, 'the dark page, not entered');
    const background = (u) => u.page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    assert.equal(await background(phone), 'rgb(255, 255, 255)');
    assert.equal(await background(dark), 'rgb(22, 24, 27)');
    // The title picture, through the program under its token.
    await until(() => phone.page.locator('#picture').evaluate((i) => i.complete && i.naturalWidth === 24), 'the title picture');
    assert.doesNotMatch(await phone.page.locator('#picture').getAttribute('src'), /SKEY/);
    assert.match(await phone.page.locator('.info').innerText(), /^Welcome to the live room & its tests\.\nSecond line\.$/);

    // The keyboard alone: Tab to the chat name, Enter enters, the message
    // field has the focus, Enter sends.
    for (let i = 0; i < 12 && (await phone.page.evaluate(() => document.activeElement.id)) !== 'chat-name'; i++)
      await phone.page.keyboard.press('Tab');
    assert.equal(await phone.page.evaluate(() => document.activeElement.id), 'chat-name');
    await phone.page.keyboard.press('Control+A');
    await phone.page.keyboard.type('Kenji on the phone');
    await phone.page.keyboard.press('Enter');
    await until(() => phone.page.evaluate(() => document.activeElement.id === 'message'), 'the message field focused');
    // A line over 250 bytes is refused with a message, and stays typed.
    const long = 'a line without a break ' + 'x'.repeat(100) + ' https://example.com/' + 'y'.repeat(80);  // 224 bytes
    phone.refusal = 400;
    await phone.page.keyboard.type(long + 'z'.repeat(40));
    await phone.page.keyboard.press('Enter');
    await until(async () => (await phone.page.locator('#alert').innerText()) === 'The line is too long.', 'the refusal');
    assert.equal(await phone.page.inputValue('#message'), long + 'z'.repeat(40));
    assert.equal(phone.refusal, 0, 'the refusal seen on the console');
    for (let i = 0; i < 40; i++) await phone.page.keyboard.press('Backspace');
    await phone.page.keyboard.press('Enter');
    await until(async () => (await logText(phone)).includes('x'.repeat(100)), 'the keyboard\'s line', 2000);
    assert.equal(await phone.page.inputValue('#message'), '');
    assert.equal(await phone.page.locator('#alert').innerText(), '');
    const focusRing = await phone.page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle);
    assert.equal(focusRing, 'solid', 'visible focus');

    // Entered, in the dark, and its line reaches the phone within 2 s.
    await enterLive(dark, 'Mika in the dark');
    await dark.page.fill('#message', 'good evening 🌙');
    await dark.page.press('#message', 'Enter');
    await until(async () => (await logText(phone)).includes('good evening 🌙'), 'the dark page\'s line on the phone', 2000);
    assert.equal(await noSideways(), true, 'sideways scroll with long lines');
    await axeCheck(phone, 'the light page, entered');
    await axeCheck(dark, 'the dark page, entered');

    // The network lost: "Reconnecting"; a line posted meanwhile; back:
    // "Connected again" and the line, once. (The poll on its way when the
    // network goes answers the first line; the next one fails.)
    phone.offline = true;
    await phone.context.route(`${BASE}/cgi-bin/velt.cgi`, (route) => route.abort('internetdisconnected'));
    for (const line of ['as the phone goes away', 'while the phone is away']) {
      await dark.page.fill('#message', line);
      await dark.page.press('#message', 'Enter');
      await until(async () => (await logText(dark)).includes(line), 'the dark page\'s own line');
      await until(async () => (await phone.page.locator('#status').innerText()) === 'Reconnecting', 'Reconnecting', 30000);
    }
    await phone.context.unroute(`${BASE}/cgi-bin/velt.cgi`);
    phone.offline = false;
    await until(async () => (await phone.page.locator('#status').innerText()) === 'Connected again', 'Connected again', 30000);
    await until(async () => (await logText(phone)).includes('while the phone is away'), 'the line missed meanwhile');
    for (const line of ['as the phone goes away', 'while the phone is away'])
      assert.equal((await logText(phone)).split('\n').filter((l) => l.includes(line)).length, 1, line);

    // No address the page made carries the key; the page's own does.
    assert.match(address, /SKEY1=/);
    for (const u of [phone, dark]) {
      const made = u.requests.filter((r) => r.type !== 'document');
      assert.ok(made.length > 5, `${u.who}: requests seen ${made.length}`);
      for (const r of made) assert.doesNotMatch(r.url, /SKEY|upw/, r.url);
      await pageOwnScriptOnly(u);
    }
  } catch (e) {
    await artifacts(e);
  }
  await Promise.all([phone.context.close(), dark.context.close()]);
});

test('no script but the page\'s own, its policy on every page, and nothing on the console', async () => {
  for (const u of opened) {
    for (const s of u.scripts) assert.match(s, /\/cgi-bin\/velt\.cgi\?JOB=LIVE_ASSET&NAME=live\.js&V=[0-9a-f]{16}$/, u.who);
    for (const d of u.documents) {
      assert.equal(d.headers['content-security-policy'], POLICY, d.url);
      assert.equal(d.headers['referrer-policy'], 'no-referrer', d.url);
    }
    // The portal's own icon is the web server's business, not the program's.
    const noise = (m) => /Failed to load resource/.test(m.text) && /favicon\.ico$/.test(m.url);
    assert.deepEqual(u.console.filter((m) => !noise(m)), [], u.who);
  }
  const live = opened.filter((u) => u.who !== 'mika-classic');
  assert.equal(live.length, 3);
  for (const u of live) {
    assert.ok(u.documents.length >= 1, `${u.who}: live pages seen`);
    assert.ok(u.scripts.length >= 1, `${u.who}: the page's script loaded`);
  }
});
