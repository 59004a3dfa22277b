/* How this PC behaves, in the POS settings panel: theme, the new-order sound
   with a test, font sizes with a live preview, touch mode, the on-screen
   keyboard of the merchant pages, starting with the desktop session, the
   new-order badge and full screen. Every value lives on this PC; the answers
   arrive as the set… callbacks below, which keep whatever the page itself
   does with them. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};
  if (!TW.settings) return;
  var el = TW.settings.el;
  var node = {};
  var FONT_PARTS = ['주문 목록', '주문 내용', '버튼'];
  var fontSizes = [100, 100, 100];

  function button(text, cls, onClick) {
    var b = el('button', 'btn small' + (cls ? ' ' + cls : ''), text);
    b.type = 'button';
    b.addEventListener('click', onClick);
    return b;
  }
  function row(label) {
    var r = el('div', 'ps-row');
    if (label) r.appendChild(el('span', 'ps-label', label));
    return r;
  }
  function switchButton(id, onClick) {
    var s = el('button', 'ps-switch');
    s.type = 'button';
    s.id = id;
    s.setAttribute('role', 'switch');
    s.addEventListener('click', function () { onClick(!s.classList.contains('on')); });
    return s;
  }
  function setSwitch(s, on) {
    if (!s) return;
    s.classList.toggle('on', !!on);
    s.setAttribute('aria-checked', on ? 'true' : 'false');
  }
  // A group of buttons of which one is chosen: [value, text] pairs.
  function choice(id, options, onPick) {
    var box = el('div', 'ps-choice');
    box.id = id;
    options.forEach(function (o) {
      var b = button(o[1], '', function () { onPick(o[0]); });
      b.setAttribute('data-value', o[0]);
      box.appendChild(b);
    });
    return box;
  }
  function choose(box, value) {
    if (!box) return;
    Array.prototype.forEach.call(box.childNodes, function (b) {
      b.classList.toggle('primary', b.getAttribute('data-value') === String(value));
    });
  }
  // Each callback keeps the one it replaces, so the page's own use of the
  // answer goes on.
  function wrap(name, fn) {
    var before = window[name];
    window[name] = function () {
      if (typeof before === 'function') before.apply(this, arguments);
      fn.apply(this, arguments);
    };
  }

  function previewFonts() {
    if (!node.preview) return;
    FONT_PARTS.forEach(function (_, i) {
      var line = node.preview.childNodes[i];
      if (line) line.style.fontSize = Math.round(16 * fontSizes[i] / 100) + 'px';
      if (node.fontValues && node.fontValues[i]) node.fontValues[i].textContent = fontSizes[i] + '%';
      if (node.fontRanges && node.fontRanges[i] && Number(node.fontRanges[i].value) !== fontSizes[i]) node.fontRanges[i].value = fontSizes[i];
    });
  }

  function build(body) {
    var look = el('div', 'ps-group');
    look.appendChild(el('h3', '', '화면'));
    var theme = row('화면 밝기');
    node.theme = choice('prefTheme', [['light', '밝은 화면'], ['dark', '어두운 화면']], function (v) {
      window.setTheme(v);
      TW.send('settheme', v);
    });
    theme.appendChild(node.theme);
    look.appendChild(theme);

    var full = row('전체 화면');
    node.full = switchButton('prefFull', function (on) { TW.send('setfull', on ? '1' : '0'); });
    full.appendChild(node.full);
    look.appendChild(full);

    var touch = row('터치 입력');
    node.touch = choice('prefTouch', [['auto', '자동'], ['on', '터치 화면'], ['off', '마우스']], function (v) { TW.send('settouchmode', v); });
    touch.appendChild(node.touch);
    look.appendChild(touch);

    var kbd = row('화면 키보드');
    node.kbd = switchButton('prefKeyboard', function (on) { TW.send('setmerchantkbd', on ? '1' : '0'); });
    kbd.appendChild(node.kbd);
    kbd.appendChild(el('span', 'ps-hint', '가맹점 관리 화면에서 글자를 넣을 때 화면 키보드를 띄웁니다'));
    look.appendChild(kbd);
    body.appendChild(look);

    var fonts = el('div', 'ps-group');
    fonts.appendChild(el('h3', '', '글자 크기'));
    node.fontRanges = [];
    node.fontValues = [];
    FONT_PARTS.forEach(function (label, i) {
      var r = row(label);
      var range = el('input', 'grow');
      range.type = 'range';
      range.min = 80;
      range.max = 160;
      range.step = 10;
      range.id = 'prefFont' + i;
      range.addEventListener('input', function () { fontSizes[i] = Number(range.value); previewFonts(); });
      range.addEventListener('change', function () { TW.send('setfontsize', fontSizes.join(',')); });
      var value = el('span', 'ps-mono', '100%');
      node.fontRanges.push(range);
      node.fontValues.push(value);
      r.appendChild(range);
      r.appendChild(value);
      fonts.appendChild(r);
    });
    node.preview = el('div', 'ps-preview');
    node.preview.id = 'prefFontPreview';
    node.preview.appendChild(el('div', '', '12번 테이블 · 배달 3건'));
    node.preview.appendChild(el('div', '', '김치찌개 2, 공깃밥 2 — 24,000원'));
    node.preview.appendChild(el('div', 'ps-preview-btn', '접수'));
    fonts.appendChild(node.preview);
    body.appendChild(fonts);

    var alert = el('div', 'ps-group');
    alert.appendChild(el('h3', '', '새 주문 알림'));
    var sound = row('알림음');
    node.sound = switchButton('prefSound', function (on) { TW.send('setsound', on ? '1' : '0'); });
    sound.appendChild(node.sound);
    sound.appendChild(button('들어 보기', '', function () { TW.send('testsound'); }));
    alert.appendChild(sound);
    var badge = row('알림 배지');
    node.badge = switchButton('prefBadge', function (on) { TW.send('setnotify', 'badge', on ? '1' : '0'); });
    badge.appendChild(node.badge);
    alert.appendChild(badge);
    var repeat = row('되풀이');
    node.repeat = switchButton('prefRepeat', function (on) { TW.send('setnotify', 'repeat', on ? '1' : '0'); });
    repeat.appendChild(node.repeat);
    repeat.appendChild(el('span', 'ps-hint', '주문을 볼 때까지 알림을 되풀이합니다'));
    alert.appendChild(repeat);
    var size = row('배지 크기');
    node.badgeSize = choice('prefBadgeSize', [['0', '작게'], ['1', '보통'], ['2', '크게']], function (v) { TW.send('setnotify', 'badgesize', v); });
    size.appendChild(node.badgeSize);
    alert.appendChild(size);
    var colour = row('배지 색');
    node.badgeColour = el('div', 'ps-choice');
    node.badgeColour.id = 'prefBadgeColour';
    colour.appendChild(node.badgeColour);
    alert.appendChild(colour);
    body.appendChild(alert);

    var start = el('div', 'ps-group');
    start.appendChild(el('h3', '', '시작'));
    var auto = row('자동 실행');
    node.autostart = switchButton('prefAutostart', function (on) { TW.send('setautostart', on ? '1' : '0'); });
    auto.appendChild(node.autostart);
    auto.appendChild(el('span', 'ps-hint', '컴퓨터를 켜고 로그인하면 POS 가 저절로 뜹니다'));
    start.appendChild(auto);
    body.appendChild(start);
  }

  function show() {
    setSwitch(node.full, TW.fullscreen);
    choose(node.theme, document.documentElement.getAttribute('data-theme') === 'dark' ? 'dark' : 'light');
    ['getsound', 'getfontsize', 'gettouchmode', 'getmerchantkbd', 'getautostart', 'getnotify', 'getfull'].forEach(function (c) { TW.send(c); });
  }

  wrap('setTheme', function (t) { choose(node.theme, t === 'dark' ? 'dark' : 'light'); });
  wrap('setFullState', function (full) { setSwitch(node.full, Number(full) === 1); });
  wrap('setSoundOn', function (on) { setSwitch(node.sound, Number(on) === 1); });
  wrap('setTouchMode', function (mode) { choose(node.touch, mode); });
  wrap('setMerchantKeyboard', function (on) { setSwitch(node.kbd, Number(on) === 1); });
  wrap('setAutoStart', function (on) { setSwitch(node.autostart, Number(on) === 1); });
  wrap('setFontSizes', function (text) {
    String(text || '').split(',').slice(0, 3).forEach(function (v, i) {
      var n = parseInt(v, 10);
      if (n >= 50 && n <= 200) fontSizes[i] = n;
    });
    previewFonts();
  });
  wrap('setNotifyCfg', function (cfg) {
    if (typeof cfg === 'string') { try { cfg = JSON.parse(cfg); } catch (e) { return; } }
    if (!cfg || !node.badge) return;
    setSwitch(node.badge, Number(cfg.badge) !== 0);
    setSwitch(node.repeat, Number(cfg.repeat) !== 0);
    choose(node.badgeSize, String(cfg.badgesize));
    var box = node.badgeColour;
    while (box.firstChild) box.removeChild(box.firstChild);
    (cfg.colors || []).forEach(function (c) {
      var b = button(c.n, c.k === cfg.badgecolor ? 'primary' : '', function () { TW.send('setnotify', 'badgecolor', c.k); });
      b.setAttribute('data-value', c.k);
      var dot = el('span', 'ps-dot');
      dot.style.background = c.bg;
      b.insertBefore(dot, b.firstChild);
      box.appendChild(b);
    });
  });

  TW.settings.add({ id: 'pc', title: '화면·알림', build: build, show: show });
})();
