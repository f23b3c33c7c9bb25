// Waiting in the browser tests: a condition polled until it holds, never a
// fixed sleep.

// Waits until check() gives a true value (polling every 50 ms), and gives
// that value; throws, naming what and check()'s last answer or error, once
// ms milliseconds have passed.
export async function until(check, what, ms = 15000) {
  const end = Date.now() + ms;
  for (;;) {
    let last;
    try {
      last = await check();
      if (last) return last;
    } catch (e) {
      last = e.message;
    }
    if (Date.now() > end) throw new Error(`timed out after ${ms} ms waiting for ${what} (last: ${last})`);
    await new Promise((r) => setTimeout(r, 50));
  }
}
