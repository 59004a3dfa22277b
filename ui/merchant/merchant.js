/* Shared helpers of the owner's back-office pages: the page frame (back,
   theme, the page-ready report that brings the page's data), answers read
   from the bridge's callbacks, loading/empty/failed states, a small DOM
   builder, dialogs, drag to reorder, and charts drawn as plain SVG. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};
  var M = TW.M = {};

  // A callback's argument: the server's JSON as a string (or already an object).
  M.parse = function (value) {
    if (value == null) return null;
    if (typeof value === 'object') return value;
    try { return JSON.parse(String(value)); } catch (e) { return null; }
  };
  M.list = function (data, key) {
    data = M.parse(data);
    var list = data && data[key];
    return Array.isArray(list) ? list : [];
  };
  M.num = function (value) { var n = Number(value); return isFinite(n) ? n : 0; };
  M.won = function (value) { return M.num(value).toLocaleString('ko-KR') + '원'; };
  M.count = function (value) { return M.num(value).toLocaleString('ko-KR'); };
  M.day8 = function (date) {
    var m = date.getMonth() + 1, d = date.getDate();
    return String(date.getFullYear()) + (m < 10 ? '0' : '') + m + (d < 10 ? '0' : '') + d;
  };
  M.dayText = function (day8) { return day8 && day8.length === 8 ? day8.slice(0, 4) + '-' + day8.slice(4, 6) + '-' + day8.slice(6) : String(day8 || ''); };

  // el('div', {class: 'x', text: '…', onclick: f}, [children])
  M.el = function (tag, props, children) {
    var node = document.createElement(tag);
    props = props || {};
    Object.keys(props).forEach(function (key) {
      var value = props[key];
      if (value == null || value === false) return;
      if (key === 'text') node.textContent = String(value);
      else if (key === 'class') node.className = value;
      else if (key.slice(0, 2) === 'on' && typeof value === 'function') node.addEventListener(key.slice(2), value);
      else if (key === 'value') node.value = value;
      else if (key === 'checked') node.checked = !!value;
      else node.setAttribute(key, value === true ? '' : String(value));
    });
    (children || []).forEach(function (child) {
      if (child == null || child === false) return;
      node.appendChild(typeof child === 'string' ? document.createTextNode(child) : child);
    });
    return node;
  };
  M.clear = function (node) { while (node && node.firstChild) node.removeChild(node.firstChild); return node; };

  // Section states. A section waiting for data shows a spinner; a status
  // message that arrives while sections wait is their failure, shown in place
  // with a way to ask again.
  var waiting = [];
  M.loading = function (node, retry) {
    M.clear(node).appendChild(M.el('div', { class: 'mstate' }, [M.el('div', { class: 'spinner' }), '불러오는 중입니다…']));
    node.dataset.state = 'loading';
    waiting.push({ node: node, retry: retry });
  };
  M.done = function (node) {
    if (node.dataset.state === 'loading') M.clear(node);
    node.dataset.state = 'ready';
    waiting = waiting.filter(function (w) { return w.node !== node; });
  };
  M.empty = function (node, text) {
    M.done(node);
    M.clear(node).appendChild(M.el('div', { class: 'mstate' }, [text]));
  };
  M.failed = function (node, text, retry) {
    M.done(node);
    M.clear(node).appendChild(M.el('div', { class: 'mstate failed' }, [
      text || '불러오지 못했습니다',
      retry ? M.el('button', { type: 'button', class: 'btn small', text: '다시 불러오기', onclick: function () { retry(); } }) : null,
    ]));
  };
  var showStatus = window.setStatus;
  window.setStatus = function (message) {
    showStatus(message);
    var pending = waiting;
    waiting = [];
    pending.forEach(function (w) { M.failed(w.node, message, w.retry); });
    busyButtons.splice(0).forEach(function (b) { b.disabled = false; b.classList.remove('is-busy'); });
  };
  // A page whose bridge is missing says so instead of waiting forever.
  M.send = function () {
    if (TW.send.apply(null, arguments)) return true;
    window.setStatus('POS 프로그램 안에서만 쓸 수 있는 화면입니다');
    return false;
  };

  // A button that waits for its answer: disabled with a spinner until done().
  // Every status message ends every wait: a failure leaves no button stuck.
  var busyButtons = [];
  M.busy = function (button, on) {
    if (!button) return;
    button.disabled = !!on;
    button.classList.toggle('is-busy', !!on);
    if (on) busyButtons.push(button);
  };

  // A switch: a labelled checkbox with a track.
  M.switcher = function (label, checked, onchange, onClass) {
    var input = M.el('input', { type: 'checkbox', checked: checked });
    input.addEventListener('change', function () { onchange(input.checked, input); });
    return M.el('label', { class: 'switch' + (onClass ? ' on' : '') }, [input, M.el('span', { class: 'track' }), label]);
  };

  // A dialog with fields [{name, label, value, type, hint, options}]; save
  // gets the values and may return an error text to keep the dialog open.
  M.dialog = function (title, fields, save, saveText) {
    var inputs = {};
    var form = M.el('form', { class: 'mform' });
    fields.forEach(function (f) {
      var input;
      if (f.type === 'textarea') input = M.el('textarea', { name: f.name, maxlength: f.max || null });
      else if (f.type === 'select') {
        input = M.el('select', { name: f.name }, (f.options || []).map(function (o) { return M.el('option', { value: o[0], text: o[1] }); }));
      } else input = M.el('input', { name: f.name, type: f.type || 'text', inputmode: f.inputmode || null, maxlength: f.max || null, placeholder: f.placeholder || null });
      // A select without a value keeps its first option.
      if (f.type !== 'select' || (f.value != null && f.value !== '')) input.value = f.value == null ? '' : String(f.value);
      inputs[f.name] = input;
      form.appendChild(M.el('label', { class: 'mfield' }, [M.el('span', { text: f.label }), input, f.hint ? M.el('span', { class: 'hint', text: f.hint }) : null]));
    });
    var error = M.el('div', { class: 'banner danger hidden' });
    var overlay = M.el('div', { class: 'mdialog', role: 'dialog', 'aria-modal': 'true' });
    function close() { if (overlay.parentNode) overlay.parentNode.removeChild(overlay); }
    form.appendChild(error);
    form.appendChild(M.el('div', { class: 'mactions' }, [
      M.el('button', { type: 'button', class: 'btn', text: '취소', onclick: close }),
      M.el('button', { type: 'submit', class: 'btn primary', text: saveText || '저장' }),
    ]));
    form.addEventListener('submit', function (event) {
      event.preventDefault();
      var values = {};
      Object.keys(inputs).forEach(function (k) { values[k] = inputs[k].value.trim(); });
      var problem = save(values);
      if (problem) { error.textContent = problem; error.classList.remove('hidden'); return; }
      close();
    });
    overlay.addEventListener('click', function (event) { if (event.target === overlay) close(); });
    overlay.appendChild(M.el('div', { class: 'mdialog-card' }, [M.el('h2', { text: title }), form]));
    document.body.appendChild(overlay);
    var first = form.querySelector('input,textarea,select');
    if (first) first.focus();
    return close;
  };
  M.confirm = function (title, text, yes, yesText) {
    var overlay = M.el('div', { class: 'mdialog', role: 'dialog', 'aria-modal': 'true' });
    function close() { if (overlay.parentNode) overlay.parentNode.removeChild(overlay); }
    overlay.appendChild(M.el('div', { class: 'mdialog-card' }, [
      M.el('h2', { text: title }), M.el('p', { class: 'muted', text: text }),
      M.el('div', { class: 'mactions' }, [
        M.el('button', { type: 'button', class: 'btn', text: '취소', onclick: close }),
        M.el('button', { type: 'button', class: 'btn primary', text: yesText || '확인', onclick: function () { close(); yes(); } }),
      ]),
    ]));
    document.body.appendChild(overlay);
  };

  // Drag to reorder the rows of a list by their handle, with mouse or
  // finger (pointer events); done gets the rows' keys in the new order.
  M.sortable = function (list, done) {
    var dragging = null;
    list.addEventListener('pointerdown', function (event) {
      var handle = event.target.closest('.handle');
      if (!handle) return;
      dragging = handle.closest('.mrow');
      dragging.classList.add('dragging');
      handle.setPointerCapture(event.pointerId);
      event.preventDefault();
    });
    list.addEventListener('pointermove', function (event) {
      if (!dragging) return;
      var rows = Array.prototype.slice.call(list.querySelectorAll('.mrow'));
      rows.forEach(function (r) { r.classList.remove('drop-before'); });
      var target = rows.filter(function (r) { var b = r.getBoundingClientRect(); return event.clientY < b.top + b.height / 2; })[0];
      if (target && target !== dragging) target.classList.add('drop-before');
      list.dataset.dropBefore = target ? target.dataset.key : '';
    });
    function finish() {
      if (!dragging) return;
      var target = list.dataset.dropBefore ? list.querySelector('.mrow[data-key="' + list.dataset.dropBefore + '"]') : null;
      Array.prototype.forEach.call(list.querySelectorAll('.mrow'), function (r) { r.classList.remove('drop-before'); });
      var item = dragging.closest('li') || dragging;
      var before = target ? (target.closest('li') || target) : null;
      if (before !== item) {
        if (before) list.insertBefore(item, before); else list.appendChild(item);
      }
      dragging.classList.remove('dragging');
      dragging = null;
      list.dataset.dropBefore = '';
      done(Array.prototype.map.call(list.querySelectorAll('.mrow'), function (r) { return r.dataset.key; }));
    }
    list.addEventListener('pointerup', finish);
    list.addEventListener('pointercancel', finish);
  };

  // Charts as plain SVG. bars: [{label, value, alt}]; every bar gets a
  // <title> with its figure, so a finger that rests on it reads it.
  var SVG = 'http://www.w3.org/2000/svg';
  function svg(tag, attrs, text) {
    var node = document.createElementNS(SVG, tag);
    Object.keys(attrs || {}).forEach(function (k) { node.setAttribute(k, attrs[k]); });
    if (text != null) node.textContent = text;
    return node;
  }
  function niceMax(value) {
    if (value <= 0) return 1;
    var power = Math.pow(10, Math.floor(Math.log10(value)));
    var steps = [1, 2, 2.5, 5, 10];
    for (var i = 0; i < steps.length; i++) if (steps[i] * power >= value) return steps[i] * power;
    return 10 * power;
  }
  function shortWon(value) {
    if (value >= 100000000) return (value / 100000000).toFixed(1).replace(/\.0$/, '') + '억';
    if (value >= 10000) return (Math.round(value / 1000) / 10).toLocaleString('ko-KR') + '만';
    return M.count(value);
  }
  M.barChart = function (node, bars, opts) {
    opts = opts || {};
    // Drawn at the size it is shown, so the labels keep their size.
    var width = Math.max(280, Math.round(node.clientWidth || 720)), height = 240, left = 48, bottom = 26, top = 12;
    var chart = svg('svg', { class: 'chart', viewBox: '0 0 ' + width + ' ' + height, role: 'img', 'aria-label': opts.label || '' });
    var max = niceMax(Math.max.apply(null, bars.map(function (b) { return M.num(b.value); }).concat([0])));
    var plotH = height - top - bottom, plotW = width - left - 8;
    for (var g = 0; g <= 4; g++) {
      var y = top + plotH - plotH * g / 4;
      chart.appendChild(svg('line', { class: 'grid', x1: left, x2: width - 8, y1: y, y2: y }));
      chart.appendChild(svg('text', { x: left - 6, y: y + 4, 'text-anchor': 'end' }, shortWon(max * g / 4)));
    }
    var slot = plotW / Math.max(1, bars.length);
    var labelEvery = Math.max(1, Math.ceil(bars.length / Math.min(opts.labels || 12, Math.floor(plotW / 44))));
    bars.forEach(function (b, i) {
      var value = M.num(b.value);
      var h = Math.max(value > 0 ? 2 : 1, plotH * value / max);
      var x = left + i * slot + slot * 0.15;
      var rect = svg('rect', { class: 'bar' + (value <= 0 ? ' zero' : b.alt ? ' alt' : ''), x: x, y: top + plotH - h, width: Math.max(1, slot * 0.7), height: h, rx: Math.min(4, slot * 0.2) });
      rect.appendChild(svg('title', {}, b.label + ' ' + (opts.unit === '건' ? M.count(value) + '건' : M.won(value))));
      chart.appendChild(rect);
      if (i % labelEvery === 0) chart.appendChild(svg('text', { x: x + slot * 0.35, y: height - 8, 'text-anchor': 'middle' }, b.short || b.label));
    });
    M.clear(node).appendChild(chart);
  };
  // Horizontal bars for rankings: [{name, value, note}].
  M.rankBars = function (node, rows) {
    var max = Math.max.apply(null, rows.map(function (r) { return M.num(r.value); }).concat([1]));
    M.clear(node).appendChild(M.el('div', { class: 'hbars' }, rows.map(function (r) {
      return M.el('div', { class: 'hbar' }, [
        M.el('span', { class: 'name', text: r.name }),
        M.el('span', { class: 'track' }, [M.el('span', { class: 'fill', style: 'width:' + (100 * M.num(r.value) / max).toFixed(1) + '%' })]),
        M.el('span', { class: 'num', text: r.note }),
      ]);
    })));
  };

  // The frame every page shares; then the page-ready report.
  M.start = function (page, setup) {
    function begin() {
      var back = TW.byId('backBtn');
      if (back) back.addEventListener('click', function () { TW.send('back'); });
      var home = TW.byId('homeBtn');
      if (home) home.addEventListener('click', function () { TW.send('gomain'); });
      var theme = TW.byId('themeBtn');
      TW.onTheme = function (t) { if (theme) theme.textContent = t === 'dark' ? '밝은 화면' : '어두운 화면'; if (M.onTheme) M.onTheme(t); };
      if (theme) theme.addEventListener('click', function () {
        var dark = document.documentElement.getAttribute('data-theme') !== 'dark';
        window.setTheme(dark ? 'dark' : 'light');
        TW.send('settheme', dark ? 'dark' : 'light');
      });
      if (setup) setup();
    }
    // The bridge takes a page's commands only once the page has finished
    // loading; its set-up after that begins with setVersion, and that is
    // when the page asks for its data.
    var asked = false;
    function ask() {
      if (asked) return;
      asked = M.asked = true;
      TW.send('gettheme');
      TW.send('merchstate');
      M.send('merchready', page, '1');
    }
    var shownVersion = window.setVersion;
    window.setVersion = function (text) { shownVersion(text); ask(); };
    window.addEventListener('load', function () { setTimeout(ask, 1500); });
    if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', begin);
    else begin();
  };
  window.setStoreName = function (name) { TW.setText('storeName', name); };
  window.setMerchState = function (owner, storeidx, name) {
    if (name) TW.setText('storeName', name);
    if (!Number(owner)) {
      var bar = TW.byId('ownerBar');
      if (bar) bar.classList.remove('hidden');
    }
  };
})();
