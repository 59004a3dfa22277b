// TILLWAVE POS page script.
//
// The program runs this script at the start of every document that it trusts:
// the two own file pages (login, orders), the pages of the UI bundle, and the
// panel frames framed by a UI page. The guard script around it decides where
// it runs and marks panel frames with window.__pfPanel before this text starts.
//
// What it does, in this order:
//   1. carries the pages' ".php" requests to the API virtual host, which the
//      program relays to the web host;
//   2. a photo viewer for server photos;
//   3. reloads root-relative images from the web host once its address is known;
//   4. the page bridge window.tillwave;
//   5. the food or shop mode chosen in the page address (twmode);
//   6. helpers that fit the store-management pages to the PC screen.
//
// Every part stays quiet when something it needs is missing: a page must never
// break because of this script.
(function () {
  'use strict';
  if (window.__twPageScript) return;
  window.__twPageScript = true;

  // The API virtual host. The program serves it through its own scheme; the
  // name must match the one the program registers.
  var API_ORIGIN = 'twpos://api.tillbay.invalid';

  // ---------------------------------------------------------------------
  // 5. Mode pre-selection. It runs first, so that the page's own code reads
  //    the chosen mode from any of the three stores.
  // ---------------------------------------------------------------------
  (function presetMode() {
    var mode = null;
    try { mode = new URLSearchParams(location.search).get('twmode'); } catch (e) { return; }
    if (mode !== 'food' && mode !== 'shop') return;
    try { window.localStorage.setItem('twmode', mode); } catch (e) { /* storage may be off */ }
    try { window.sessionStorage.setItem('twmode', mode); } catch (e) { /* storage may be off */ }
    try { document.cookie = 'twmode=' + mode + '; path=/; max-age=31536000; SameSite=Lax'; } catch (e) { /* no cookies on file pages */ }
  })();

  // ---------------------------------------------------------------------
  // 1. ".php" requests go to the API virtual host, same path and query.
  // ---------------------------------------------------------------------
  function apiAddress(target) {
    var u;
    try { u = new URL(String(target), location.href); } catch (e) { return null; }
    if (u.protocol !== location.protocol || u.host !== location.host) return null;
    if (!/\.php$/i.test(u.pathname)) return null;
    return API_ORIGIN + u.pathname + u.search;
  }

  if (typeof window.fetch === 'function') {
    var nativeFetch = window.fetch;
    window.fetch = function (input, init) {
      var isRequest = typeof Request !== 'undefined' && input instanceof Request;
      var target = apiAddress(isRequest ? input.url : input);
      if (target) input = isRequest ? new Request(target, input) : target;
      return nativeFetch.call(this, input, init);
    };
  }

  if (window.XMLHttpRequest && XMLHttpRequest.prototype.open) {
    var nativeOpen = XMLHttpRequest.prototype.open;
    XMLHttpRequest.prototype.open = function (method, url) {
      var args = Array.prototype.slice.call(arguments);
      var target = apiAddress(url);
      if (target) args[1] = target;
      return nativeOpen.apply(this, args);
    };
  }

  // ---------------------------------------------------------------------
  // 4. The page bridge.
  // ---------------------------------------------------------------------
  function post(text) {
    try { window.chrome.webview.postMessage(String(text)); } catch (e) { /* no bridge in this document */ }
  }

  window.tillwave = {
    viewinfo: function (s) {
      var text = String(s);
      if (window.__pfPanel) {
        // A panel frame speaks through the page that frames it, so that the
        // program sees the command come from the document it trusts.
        try { window.top.__pfRelay(text); } catch (e) { /* the top page has no relay */ }
        return;
      }
      post(text);
    },
    seterror: function (m) { window.alert(String(m)); }
  };
  if (!window.__pfPanel) {
    window.__pfRelay = function (s) { post(String(s)); };
  }

  // ---------------------------------------------------------------------
  // Shared helpers (also part of 6): the TW namespace.
  // ---------------------------------------------------------------------
  var TW = window.TW = window.TW || {};

  function whenReady(fn) {
    if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', fn);
    else fn();
  }

  function addStyle(css) {
    var style = document.createElement('style');
    style.setAttribute('data-tw', '1');
    style.textContent = css;
    (document.head || document.documentElement).appendChild(style);
  }

  // Wraps a global callback the program calls (window.name&&name(...)), so that
  // this script learns its arguments whatever the page does with it. A page
  // may assign the function or declare it; a declaration replaces the hook,
  // so the hook is put back once the page's scripts have run.
  function hookGlobal(name, before) {
    var pageFn = typeof window[name] === 'function' ? window[name] : null;
    var wrapper = function () {
      try { before.apply(null, arguments); } catch (e) { /* never break the page's callback */ }
      if (typeof pageFn === 'function') return pageFn.apply(this, arguments);
    };
    try {
      Object.defineProperty(window, name, {
        configurable: true,
        enumerable: true,
        get: function () { return wrapper; },
        set: function (fn) { if (fn !== wrapper) pageFn = fn; }
      });
    } catch (e) { /* the page made it read-only */ }
    function rehook() {
      var current = window[name];
      if (current !== wrapper && typeof current === 'function') {
        pageFn = current;
        try { window[name] = wrapper; } catch (e) { /* read-only */ }
      }
    }
    document.addEventListener('DOMContentLoaded', rehook);
    window.addEventListener('load', rehook);
  }

  TW.toast = function (message, ms) {
    var text = String(message == null ? '' : message);
    if (!text) return;
    whenReady(function () {
      var box = document.getElementById('twToast');
      if (!box) {
        box = document.createElement('div');
        box.id = 'twToast';
        box.setAttribute('role', 'status');
        box.setAttribute('aria-live', 'polite');
        document.body.appendChild(box);
      }
      box.textContent = text;
      box.className = 'tw-show';
      clearTimeout(TW.__toastTimer);
      TW.__toastTimer = setTimeout(function () { box.className = ''; }, ms || 2600);
    });
  };

  // "12,000원"
  TW.won = function (n) {
    var v = Math.round(Number(n) || 0);
    var s = String(Math.abs(v)).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
    return (v < 0 ? '-' : '') + s + '원';
  };

  addStyle(
    '#twToast{position:fixed;left:50%;bottom:36px;transform:translateX(-50%) translateY(20px);' +
    'max-width:70vw;padding:12px 22px;border-radius:10px;background:rgba(20,24,32,.92);color:#fff;' +
    'font:500 15px/1.4 "Nanum Gothic","Malgun Gothic",sans-serif;z-index:2147483646;opacity:0;' +
    'pointer-events:none;transition:opacity .18s,transform .18s;white-space:pre-line;text-align:center}' +
    '#twToast.tw-show{opacity:1;transform:translateX(-50%) translateY(0)}'
  );

  // ---------------------------------------------------------------------
  // 3. Root-relative images that fail here are fetched from the web host
  //    once its address arrives with setPayBase.
  // ---------------------------------------------------------------------
  var MAX_WAITING_IMAGES = 40;
  var webBase = '';
  var waitingImages = [];

  function webOrigin(text) {
    var host = String(text == null ? '' : text).trim();
    if (!host) return '';
    if (host.indexOf('://') < 0) {
      // The same reading as the program's: plain HTTP for localhost and the
      // loopback and private ranges, HTTPS for everything else.
      var m = /^\s*[+-]?(\d+)\.[+-]?(\d+)/.exec(host);
      var a = m ? Number(m[1]) : -1;
      var b = m ? Number(m[2]) : -1;
      var plain = host === 'localhost' || a === 127 || a === 10 || (a === 192 && b === 168) || (a === 172 && b >= 16 && b <= 31);
      host = (plain ? 'http://' : 'https://') + host;
    }
    try {
      var u = new URL(host);
      if (u.protocol !== 'http:' && u.protocol !== 'https:') return '';
      return u.protocol + '//' + u.host;
    } catch (e) {
      return '';
    }
  }

  function isRootRelative(img) {
    var src = img.getAttribute('src') || '';
    return src.charAt(0) === '/' && src.charAt(1) !== '/';
  }

  function repairImage(img) {
    if (img.__twRepaired) return;
    img.__twRepaired = true;
    img.src = webBase + img.getAttribute('src');
  }

  document.addEventListener('error', function (event) {
    var img = event.target;
    if (!img || img.tagName !== 'IMG' || img.__twRepaired || !isRootRelative(img)) return;
    if (webBase) {
      repairImage(img);
    } else if (waitingImages.length < MAX_WAITING_IMAGES && waitingImages.indexOf(img) < 0) {
      waitingImages.push(img);
    }
  }, true);

  hookGlobal('setPayBase', function (host) {
    var origin = webOrigin(host);
    if (!origin) return;
    webBase = origin;
    var list = waitingImages;
    waitingImages = [];
    for (var i = 0; i < list.length; i++) {
      if (list[i].isConnected && isRootRelative(list[i])) repairImage(list[i]);
    }
  });

  // ---------------------------------------------------------------------
  // 2. Photo viewer for server photos: images already loaded over http or
  //    https from another origin, not inside a button.
  // ---------------------------------------------------------------------
  function isServerPhoto(img) {
    if (!img || img.tagName !== 'IMG' || !img.complete || !img.naturalWidth) return false;
    if (img.closest && img.closest('button')) return false;
    var u;
    try { u = new URL(img.currentSrc || img.src, location.href); } catch (e) { return false; }
    if (u.protocol !== 'http:' && u.protocol !== 'https:') return false;
    return u.protocol + '//' + u.host !== location.protocol + '//' + location.host;
  }

  function serverPhotos() {
    var seen = {};
    var list = [];
    var images = document.images;
    for (var i = 0; i < images.length; i++) {
      var img = images[i];
      if (img.closest && img.closest('#twPhotoViewer')) continue;
      if (!isServerPhoto(img)) continue;
      var src = img.currentSrc || img.src;
      if (seen[src]) continue;
      seen[src] = true;
      list.push(src);
    }
    return list;
  }

  var viewer = null;

  function closeViewer() {
    if (!viewer) return;
    document.removeEventListener('keydown', viewer.onKey, true);
    viewer.root.remove();
    viewer = null;
  }

  function showPhoto(index) {
    var n = viewer.photos.length;
    viewer.index = (index + n) % n;
    viewer.img.src = viewer.photos[viewer.index];
    viewer.count.textContent = (viewer.index + 1) + ' / ' + n;
    viewer.prev.style.display = viewer.next.style.display = n > 1 ? '' : 'none';
  }

  function openViewer(src) {
    closeViewer();
    var photos = serverPhotos();
    var index = photos.indexOf(src);
    if (index < 0) { photos.unshift(src); index = 0; }

    var root = document.createElement('div');
    root.id = 'twPhotoViewer';
    root.innerHTML =
      '<img class="tw-pv-img" alt="">' +
      '<button type="button" class="tw-pv-prev" aria-label="이전 사진">&#8249;</button>' +
      '<button type="button" class="tw-pv-next" aria-label="다음 사진">&#8250;</button>' +
      '<button type="button" class="tw-pv-close" aria-label="닫기">&#215;</button>' +
      '<div class="tw-pv-count"></div>';
    viewer = {
      root: root,
      photos: photos,
      index: index,
      img: root.querySelector('.tw-pv-img'),
      prev: root.querySelector('.tw-pv-prev'),
      next: root.querySelector('.tw-pv-next'),
      count: root.querySelector('.tw-pv-count'),
      onKey: function (e) {
        if (e.key === 'Escape') { closeViewer(); e.preventDefault(); e.stopPropagation(); }
        else if (e.key === 'ArrowLeft') { showPhoto(viewer.index - 1); e.preventDefault(); e.stopPropagation(); }
        else if (e.key === 'ArrowRight') { showPhoto(viewer.index + 1); e.preventDefault(); e.stopPropagation(); }
      }
    };
    viewer.prev.onclick = function (e) { e.stopPropagation(); showPhoto(viewer.index - 1); };
    viewer.next.onclick = function (e) { e.stopPropagation(); showPhoto(viewer.index + 1); };
    viewer.img.onclick = function (e) { e.stopPropagation(); };
    viewer.count.onclick = function (e) { e.stopPropagation(); };
    root.querySelector('.tw-pv-close').onclick = function (e) { e.stopPropagation(); closeViewer(); };
    root.onclick = closeViewer; // a click outside the photo
    document.addEventListener('keydown', viewer.onKey, true);
    document.body.appendChild(root);
    showPhoto(index);
  }

  document.addEventListener('click', function (event) {
    if (event.defaultPrevented || event.button !== 0) return;
    var img = event.target;
    if (!isServerPhoto(img) || (img.closest && img.closest('#twPhotoViewer'))) return;
    event.preventDefault();
    openViewer(img.currentSrc || img.src);
  });

  addStyle(
    '#twPhotoViewer{position:fixed;inset:0;z-index:2147483640;background:rgba(0,0,0,.86);' +
    'display:flex;align-items:center;justify-content:center}' +
    '#twPhotoViewer .tw-pv-img{max-width:88vw;max-height:86vh;object-fit:contain;border-radius:6px;' +
    'box-shadow:0 6px 30px rgba(0,0,0,.5);background:#fff}' +
    '#twPhotoViewer button{position:absolute;border:0;background:rgba(255,255,255,.16);color:#fff;' +
    'cursor:pointer;border-radius:50%;font:400 34px/1 sans-serif;width:56px;height:56px}' +
    '#twPhotoViewer button:hover{background:rgba(255,255,255,.3)}' +
    '#twPhotoViewer .tw-pv-prev{left:24px;top:50%;margin-top:-28px}' +
    '#twPhotoViewer .tw-pv-next{right:24px;top:50%;margin-top:-28px}' +
    '#twPhotoViewer .tw-pv-close{right:24px;top:20px;width:46px;height:46px;font-size:30px}' +
    '#twPhotoViewer .tw-pv-count{position:absolute;bottom:22px;left:50%;transform:translateX(-50%);' +
    'color:#fff;font:600 15px/1 sans-serif;background:rgba(0,0,0,.45);padding:7px 14px;border-radius:14px}'
  );

  // ---------------------------------------------------------------------
  // 6. The store-management pages were made for phones; on the counter PC
  //    they get a wider layout, a keyboard that moves through forms, and
  //    guards against the mistakes of a hurried hand.
  // ---------------------------------------------------------------------
  var merchantPage = location.pathname.indexOf('/merchant/') >= 0;
  if (!merchantPage) return;

  document.documentElement.classList.add('tw-pc');
  addStyle(
    'html.tw-pc{-webkit-text-size-adjust:100%;text-size-adjust:100%}' +
    'html.tw-pc body{font-size:15px}' +
    'html.tw-pc input,html.tw-pc select,html.tw-pc textarea{font-size:15px;min-height:34px}' +
    'html.tw-pc button{min-height:34px}' +
    'html.tw-pc .tw-scroll{overflow-x:auto;max-width:100%}' +
    'html.tw-pc table{border-collapse:collapse}' +
    'html.tw-pc input[type=number]::-webkit-inner-spin-button{opacity:1}' +
    'html.tw-pc [disabled].tw-busy{opacity:.55;cursor:progress}' +
    '@media (min-width:1100px){html.tw-pc .tw-narrow{max-width:1080px;margin-left:auto;margin-right:auto}}'
  );

  // Fields that Enter moves between. Buttons, text areas and the last field
  // of a form keep their normal Enter.
  function isFormField(el) {
    if (!el || !el.tagName) return false;
    var tag = el.tagName;
    if (tag === 'SELECT') return true;
    if (tag !== 'INPUT') return false;
    var type = (el.getAttribute('type') || 'text').toLowerCase();
    return ['text', 'number', 'tel', 'email', 'search', 'password', 'date', 'time', 'url'].indexOf(type) >= 0;
  }

  function focusableFields(form) {
    var all = form.querySelectorAll('input,select,textarea,button');
    var list = [];
    for (var i = 0; i < all.length; i++) {
      var el = all[i];
      if (el.disabled || el.readOnly || el.type === 'hidden' || el.offsetParent === null) continue;
      list.push(el);
    }
    return list;
  }

  document.addEventListener('keydown', function (e) {
    if (e.key !== 'Enter' || e.isComposing || e.shiftKey || e.ctrlKey || e.altKey || e.defaultPrevented) return;
    var el = e.target;
    if (!isFormField(el) || !el.form) return;
    var fields = focusableFields(el.form);
    var i = fields.indexOf(el);
    if (i < 0 || i === fields.length - 1) return;
    var next = fields[i + 1];
    if (next.tagName === 'BUTTON' || (next.tagName === 'INPUT' && /^(submit|button)$/i.test(next.type))) return;
    e.preventDefault();
    next.focus();
    if (next.select && next.tagName === 'INPUT') next.select();
  }, true);

  // A number field selects its content when it gets the focus, so a new
  // value replaces the old one; the mouse wheel never changes it by accident.
  document.addEventListener('focusin', function (e) {
    var el = e.target;
    if (el && el.tagName === 'INPUT' && el.type === 'number' && el.select) {
      setTimeout(function () { try { el.select(); } catch (x) { /* gone */ } }, 0);
    }
  });
  document.addEventListener('wheel', function (e) {
    var el = document.activeElement;
    if (el && el === e.target && el.tagName === 'INPUT' && el.type === 'number') el.blur();
  }, { passive: true, capture: true });

  // A second press of a submit button while the first is on its way would
  // save twice; the button rests for a moment instead.
  document.addEventListener('submit', function (e) {
    var form = e.target;
    var buttons = form && form.querySelectorAll ? form.querySelectorAll('button[type=submit],input[type=submit],button:not([type])') : [];
    Array.prototype.forEach.call(buttons, function (b) {
      if (b.disabled) return;
      b.disabled = true;
      b.classList.add('tw-busy');
      setTimeout(function () { b.disabled = false; b.classList.remove('tw-busy'); }, 2500);
    });
  });

  // Backspace outside a text field must not leave the page and lose what
  // was typed.
  document.addEventListener('keydown', function (e) {
    if (e.key !== 'Backspace') return;
    var el = e.target;
    var editable = el && (el.isContentEditable || el.tagName === 'TEXTAREA' ||
      (el.tagName === 'INPUT' && !/^(checkbox|radio|button|submit|reset|file|image|range|color)$/i.test(el.type)));
    if (!editable) e.preventDefault();
  }, true);

  // Wide tables scroll inside their own box instead of pushing the page
  // sideways.
  function wrapWideTables(root) {
    var tables = (root || document).querySelectorAll ? (root || document).querySelectorAll('table') : [];
    Array.prototype.forEach.call(tables, function (t) {
      var parent = t.parentElement;
      if (!parent || parent.classList.contains('tw-scroll')) return;
      if (t.scrollWidth <= parent.clientWidth + 2) return;
      var box = document.createElement('div');
      box.className = 'tw-scroll';
      parent.insertBefore(box, t);
      box.appendChild(t);
    });
  }
  whenReady(function () {
    wrapWideTables(document);
    if (typeof MutationObserver === 'function') {
      var pending = false;
      new MutationObserver(function () {
        if (pending) return;
        pending = true;
        setTimeout(function () { pending = false; wrapWideTables(document); }, 200);
      }).observe(document.body, { childList: true, subtree: true });
    }
  });
})();
