/* The on-screen receipt in the order detail pane: "영수증 보기" asks the
   program for the receipt's view (receiptview) and draws it line by line at
   the paper's width, the way the printer lays the same lines out;
   "영수증 출력" prints it again on the receipt printer (printreceipt). */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};

  var shownFor = null; // the order whose receipt is awaited or shown

  function el(tag, cls, text) {
    var n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text !== undefined && text !== null) n.textContent = String(text);
    return n;
  }
  function chars(text) { return Array.from(String(text == null ? '' : text)); }
  function charWidth(c) { return c.codePointAt(0) >= 0x1100 ? 2 : 1; }
  function width(text) { return chars(text).reduce(function (sum, c) { return sum + charWidth(c); }, 0); }
  function blanks(n) { return n > 0 ? new Array(n + 1).join(' ') : ''; }
  function leftRight(l, r, w) { return l + blanks(Math.max(w - width(l) - width(r), 1)) + r; }
  function padLeft(text, w) { return blanks(w - width(text)) + text; }

  // A line longer than the paper goes on at the left margin, as the
  // printer wraps it; a wide character that does not fit moves down whole.
  function wrap(text, columns) {
    var out = [];
    var line = '';
    var used = 0;
    chars(text).forEach(function (c) {
      var w = charWidth(c);
      if (used + w > columns && used > 0) {
        out.push(line);
        line = '';
        used = 0;
      }
      line += c;
      used += w;
    });
    out.push(line);
    return out;
  }

  // The paper's lines from the view items: {text, center, big, bold}.
  function paperLines(items, columns) {
    var label = columns >= 40 ? 8 : 6;
    var amountWidth = columns >= 40 ? 13 : 10;
    var unitWidth = columns >= 40 ? 12 : 9;
    var lines = [];
    function add(text, item) {
      var big = !!(item && item.z);
      wrap(text, big ? Math.floor(columns / 2) : columns).forEach(function (piece) {
        lines.push({ text: piece, center: !!(item && item.a), big: big, bold: !!(item && item.b) });
      });
    }
    function three(a, c, d) {
      return blanks(Math.max(columns - amountWidth - 6 - unitWidth, 0)) + padLeft(a, unitWidth) + padLeft(c, 6) + padLeft(d, amountWidth);
    }
    (items || []).forEach(function (it) {
      switch (it.t) {
        case 'tx': add(it.s, it); break;
        case 'nl': add('', it); break;
        case 'hr': add(new Array(Math.min(columns, 79) + 1).join(it.c || '-'), it); break;
        case 'kv': add(leftRight(it.l, it.v, it.z ? Math.floor(columns / 2) : columns), it); break;
        case 'lv': add(it.l + blanks(label - width(it.l)) + ': ' + it.v, it); break;
        // The column items carry no flags: their "a" is a value.
        case 'c3': add(three(it.a, it.c, it.d), null); break;
        case 'p2':
          if (columns < 40) {
            add(leftRight(it.l1, it.v1, columns), it);
            add(leftRight(it.l2, it.v2, columns), it);
          } else {
            var half = Math.floor(columns / 2);
            add(it.l1 + blanks(Math.max(half - width(it.l1) - width(it.v1) - 2, 1)) + it.v1 + '  ' + it.l2
              + blanks(Math.max(columns - half - width(it.l2) - width(it.v2), 1)) + it.v2, it);
          }
          break;
        case 'item':
          add(it.n, null);
          add(three(it.p, it.q, it.a), null);
          break;
        default: break; // sections only group the lines
      }
    });
    return lines;
  }

  function columnsOf(cfg) {
    var cols = parseInt(cfg && cfg.cols, 10);
    if (cols > 0) return cols;
    var auto = parseInt(cfg && cfg.colsauto, 10);
    return auto > 0 ? auto : 48;
  }

  function drawLine(line) {
    var row = el('div', 'rv-line' + (line.center ? ' center' : '') + (line.big ? ' big' : '') + (line.bold ? ' bold' : ''));
    // Each character takes its columns exactly, whatever the font's own widths.
    chars(line.text).forEach(function (c) {
      if (c.codePointAt(0) < 0x80) {
        row.appendChild(document.createTextNode(c));
      } else {
        var span = el('span', charWidth(c) === 2 ? 'w2' : 'w1', c);
        row.appendChild(span);
      }
    });
    if (!line.text) row.appendChild(document.createTextNode('\u00a0'));
    return row;
  }

  function receiptBox() { return document.querySelector('#orderDetail .rv-box'); }

  function draw(view) {
    var box = receiptBox();
    if (!box) return;
    box.textContent = '';
    if (!Array.isArray(view)) {
      box.appendChild(el('div', 'detail-error', '영수증을 불러오지 못했습니다'));
      return;
    }
    var columns = columnsOf(TW.printCfg);
    var lines = paperLines(view, columns);
    TW.receiptLines = lines.map(function (l) { return l.text; });
    var paper = el('div', 'rv-paper');
    paper.style.setProperty('--cols', String(columns));
    lines.forEach(function (l) { paper.appendChild(drawLine(l)); });
    box.appendChild(paper);
  }

  var pendingView = null;
  window.setReceiptView = function (orderidx, view) {
    if (shownFor === null || Number(orderidx) !== shownFor) return;
    if (!TW.printCfg) {
      // The paper's width comes with the printer settings.
      pendingView = view;
      TW.send('getprintcfg');
      return;
    }
    draw(view);
  };
  var previousOnCfg = TW.onPrintCfg;
  TW.onPrintCfg = function (cfg) {
    if (previousOnCfg) previousOnCfg(cfg);
    if (pendingView !== null) {
      var view = pendingView;
      pendingView = null;
      draw(view);
    }
  };

  function addButtons(orderidx) {
    var body = document.querySelector('#orderDetail .detail-body');
    if (!body || body.querySelector('.rv-actions')) return;
    var actions = el('div', 'rv-actions');
    var view = el('button', 'btn', '영수증 보기');
    view.type = 'button';
    view.id = 'receiptViewBtn';
    view.addEventListener('click', function () {
      shownFor = orderidx;
      var box = receiptBox();
      box.textContent = '';
      box.appendChild(el('div', 'detail-loading', '영수증을 불러오는 중입니다…'));
      box.classList.remove('hidden');
      TW.send('receiptview', String(orderidx), '0', '0');
    });
    var print = el('button', 'btn primary', '영수증 출력');
    print.type = 'button';
    print.id = 'receiptPrintBtn';
    print.addEventListener('click', function () { TW.send('printreceipt', String(orderidx), '0', '1', '0'); });
    actions.appendChild(view);
    actions.appendChild(print);
    body.appendChild(actions);
    body.appendChild(el('div', 'rv-box hidden'));
  }

  var previousDetail = window.setOrderDetail;
  window.setOrderDetail = function (text) {
    if (previousDetail) previousDetail(text);
    var d;
    try { d = typeof text === 'string' ? JSON.parse(text) : text; } catch (e) { return; }
    if (!d || d.error) return;
    shownFor = null;
    TW.receiptLines = null;
    addButtons(Number(d.orderidx));
  };

  TW.receiptPaperLines = paperLines;
})();
