// Runs the guard script (with the page script inside) against a few
// documents in a bare JavaScript context and checks what each document gets.
// Usage: node page_script_harness.js <guard script file>
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');

const guard = fs.readFileSync(process.argv[2], 'utf8');

// WebKit gives a scheme served by the program's scheme handler a tuple
// origin ("twpos://ui.tillbay.invalid"); the WHATWG URL of node calls it
// opaque ("null"). The context gets WebKit's reading.
class WebKitURL extends URL {
  get origin() {
    return this.protocol === 'twpos:' ? this.protocol + '//' + this.host : super.origin;
  }
}

function element() {
  return {
    style: {},
    classList: { add() {}, remove() {}, contains() { return false; } },
    setAttribute() {},
    appendChild() {},
    insertBefore() {},
    querySelector() { return element(); },
    querySelectorAll() { return []; },
    remove() {},
  };
}

function storage() {
  const items = {};
  return { setItem(k, v) { items[k] = String(v); }, getItem(k) { return k in items ? items[k] : null; } };
}

function load(href) {
  const u = new WebKitURL(href);
  const posted = [];
  const fetched = [];
  const opened = [];
  const ctx = {
    URL: WebKitURL,
    URLSearchParams,
    location: { href, protocol: u.protocol, host: u.host, origin: u.origin, pathname: u.pathname, search: u.search },
    localStorage: storage(),
    sessionStorage: storage(),
    document: {
      readyState: 'complete',
      cookie: '',
      addEventListener() {},
      createElement: element,
      documentElement: element(),
      head: element(),
      body: element(),
      images: [],
      getElementById() { return null; },
      querySelectorAll() { return []; },
    },
    chrome: { webview: { postMessage(s) { posted.push(s); } } },
    alert() {},
    setTimeout,
    clearTimeout,
    addEventListener() {},
    fetch(input) { fetched.push(String(input)); return Promise.resolve(); },
    XMLHttpRequest: function () {},
  };
  ctx.XMLHttpRequest.prototype.open = function (method, url) { opened.push(String(url)); };
  ctx.window = ctx;
  ctx.top = ctx;
  vm.createContext(ctx);
  vm.runInContext(guard, ctx);
  return { ctx, posted, fetched, opened };
}

// With a list of addresses as the second argument, only those are checked:
// each is an own file page and gets the page script and the bridge.
if (process.argv[3]) {
  for (const href of JSON.parse(process.argv[3])) {
    const page = load(href);
    assert.strictEqual(page.ctx.__twPageScript, true, href);
    assert.strictEqual(typeof page.ctx.tillwave, 'object', href);
  }
  process.exit(0);
}

// An own file page: the page script runs, the bridge posts, ".php" requests
// go to the API virtual host with their path and query.
{
  const page = load('file:///opt/tillbay/ui/orders.html');
  assert.strictEqual(page.ctx.__twPageScript, true);
  page.ctx.tillwave.viewinfo('getorders</>1');
  assert.deepStrictEqual(page.posted, ['getorders</>1']);
  page.ctx.fetch('api/list.php?day=1');
  page.ctx.fetch('https://other.example.com/list.php');
  page.ctx.fetch('style.css');
  assert.deepStrictEqual(page.fetched, [
    'twpos://api.tillbay.invalid/opt/tillbay/ui/api/list.php?day=1',
    'https://other.example.com/list.php',
    'style.css',
  ]);
  new page.ctx.XMLHttpRequest().open('POST', '/v2/menu/SAVE.PHP');
  assert.deepStrictEqual(page.opened, ['twpos://api.tillbay.invalid/v2/menu/SAVE.PHP']);
}

// A UI page: the mode in its address is kept in all three stores, and the
// web host's address learnt from setPayBase reaches the page's own function.
{
  const page = load('twpos://ui.tillbay.invalid/merchant/menu.html?twmode=food');
  assert.strictEqual(page.ctx.localStorage.getItem('twmode'), 'food');
  assert.strictEqual(page.ctx.sessionStorage.getItem('twmode'), 'food');
  assert.ok(page.ctx.document.cookie.startsWith('twmode=food'));
  let seen = null;
  page.ctx.setPayBase = function (host, store) { seen = [host, store]; };
  page.ctx.setPayBase('192.168.0.5:8080', 12);
  assert.deepStrictEqual(seen, ['192.168.0.5:8080', 12]);
  assert.strictEqual(typeof page.ctx.TW.toast, 'function');
  assert.strictEqual(page.ctx.TW.won(-1234567), '-1,234,567원');

  const other = load('twpos://ui.tillbay.invalid/merchant/menu.html?twmode=admin');
  assert.strictEqual(other.ctx.localStorage.getItem('twmode'), null);
}

// The address page: only `back` and `setgpspos` leave it, and the page
// script does not run there.
{
  const page = load('https://shop.example.com/v2/pos/ui/setaddress.html?x=1');
  assert.strictEqual(page.ctx.__twPageScript, undefined);
  page.ctx.tillwave.viewinfo('getorders');
  page.ctx.tillwave.viewinfo('back');
  page.ctx.tillwave.viewinfo('setgpspos</>서울</>37.5</>127.0');
  page.ctx.tillwave.viewinfo('backx');
  assert.deepStrictEqual(page.posted, ['back', 'setgpspos</>서울</>37.5</>127.0']);
}

// Any other document gets nothing.
for (const href of ['https://evil.example.com/', 'file:///opt/tillbay/ui/other.html',
  'twpos://ui.tillbay.invalid/merchant/unlisted.html']) {
  const page = load(href);
  assert.strictEqual(page.ctx.tillwave, undefined, href);
  assert.strictEqual(page.ctx.__twPageScript, undefined, href);
}
