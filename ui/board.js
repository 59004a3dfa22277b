/* The order board: the store's orders as cards in four lanes, the way the
   counter works through them (new, cooking, waiting for payment, done), the
   detail of one order, and today's count and takings. The program sends the
   server's list unchanged (setOrderList); nothing here keeps orders of its
   own beyond the last list. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};

  var LANES = [
    { key: 'new', title: '신규' },
    { key: 'cooking', title: '조리 중' },
    { key: 'payment', title: '결제 대기' },
    { key: 'done', title: '완료' }
  ];
  var orders = [];
  var fresh = {};          // orderidx -> time the order was announced
  var FRESH_MS = 15000;
  var detailFor = null;    // the order whose detail is awaited or shown
  var cards = {};          // orderidx -> { key, node }: the drawn cards

  function num(value, fallback) {
    if (value === undefined || value === null || value === '') return fallback;
    var n = parseInt(value, 10);
    return isNaN(n) ? fallback : n;
  }
  function won(value) {
    var n = num(value, 0);
    return (n < 0 ? '-' : '') + String(Math.abs(n)).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  }
  // Text from orders is typed on phones and tablets: control characters
  // other than line breaks show as boxes, so they become spaces.
  function el(tag, cls, text) {
    var n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text !== undefined && text !== null) n.textContent = String(text).replace(/[\u0000-\u0009\u000B-\u001F\u007F]/g, ' ');
    return n;
  }
  function orderNumber(o) {
    var n = o.ordernum;
    if (n === undefined || n === null || n === '' || String(n) === '0') n = o.orderidx;
    return String(n);
  }

  // The order's kind, tested in the order the counter has always used.
  function kind(o) {
    var src = String(o.ordersrc || '');
    var table = num(o.tablenum, 0);
    var items = Array.isArray(o.items) ? o.items : [];
    if (src === 'plainpay') return 'plainpay';
    if ((src === 'table' || src === 'table_takeout') && table > 0) return src;
    if (src === 'map_takeout' && table === 0) return 'map_takeout';
    if (src === 'pos') return 'pos';
    if (num(o.menucount, 1) === 0 && items.length === 0) return 'plainpay';
    if (table > 0) return 'table';
    if (num(o.prepay, 0) === 1) return 'pos';
    if (num(o.pickup, 0) > 0) return 'takeout';
    return 'other';
  }
  function kindLabel(o) {
    var table = num(o.tablenum, 0);
    switch (kind(o)) {
      case 'table': return { cls: 'table', text: '테이블 ' + table };
      case 'table_takeout': return { cls: 'takeout', text: '테이블 ' + table + ' 포장' };
      case 'map_takeout': return num(o.pickup, 0) > 0 ? { cls: 'pickup', text: '픽업' } : { cls: 'takeout', text: '포장' };
      case 'takeout': return { cls: 'pickup', text: '픽업' };
      case 'pos': return { cls: 'pos', text: 'POS' };
      case 'plainpay': return { cls: 'qr', text: 'QR 결제' };
      default: return { cls: 'other', text: '주문' };
    }
  }

  function lane(o) {
    var status = num(o.status, 1);
    if (status === 4 || status === 3) return 'done';
    var paid = num(o.paystatus, 1) === 1;
    if (status === 0 || (!paid && num(o.prepay, 0) !== 0)) return 'payment';
    if (status === 2) return 'cooking';
    return 'new';
  }

  function card(o) {
    var idx = num(o.orderidx, 0);
    var k = kindLabel(o);
    var status = num(o.status, 1);
    var c = el('button', 'card kind-' + k.cls);
    c.type = 'button';
    c.setAttribute('data-orderidx', String(idx));
    if (status === 4) c.classList.add('cancelled');
    if (fresh[idx] && Date.now() - fresh[idx] < FRESH_MS) c.classList.add('fresh');
    if (detailFor === idx) c.classList.add('selected');

    var head = el('div', 'card-head');
    head.appendChild(el('span', 'chip', k.text));
    head.appendChild(el('span', 'num', orderNumber(o) + '번'));
    var wait = num(o.waitmin, -1);
    if (wait >= 0) {
      var w = el('span', 'wait' + (wait >= 20 && status < 3 ? ' late' : ''), wait < 1 ? '방금' : wait + '분');
      head.appendChild(w);
    }
    c.appendChild(head);

    var items = Array.isArray(o.items) ? o.items : [];
    if (items.length) {
      var ul = el('ul', 'lines');
      items.slice(0, 6).forEach(function (it) {
        var li = el('li');
        li.appendChild(el('span', 'mname', it.mname || ''));
        li.appendChild(el('span', 'qty', '×' + num(it.qty, 1)));
        ul.appendChild(li);
        if (it.comment) ul.appendChild(el('li', 'comment', it.comment));
      });
      if (items.length > 6) ul.appendChild(el('li', 'more', '외 ' + (items.length - 6) + '개'));
      c.appendChild(ul);
    }
    if (o.requestmemo) c.appendChild(el('div', 'memo', o.requestmemo));

    var foot = el('div', 'card-foot');
    var pay = status === 4 ? '취소' : (num(o.paystatus, 1) === 1 ? '결제 완료' : (num(o.prepay, 0) === 0 ? '후불' : '결제 전'));
    foot.appendChild(el('span', 'pay' + (pay === '결제 전' ? ' unpaid' : ''), pay));
    foot.appendChild(el('span', 'total', won(o.totalamount) + '원'));
    c.appendChild(foot);
    c.addEventListener('click', function () { openDetail(idx); });
    return c;
  }

  // What a card shows, as one text: a card is drawn again only when it changes.
  function cardKey(o, idx) {
    var items = Array.isArray(o.items) ? o.items : [];
    var lines = items.slice(0, 7).map(function (it) { return [it.mname, it.qty, it.comment].join('\u0001'); });
    return [o.ordersrc, o.tablenum, o.menucount, o.prepay, o.pickup, o.status, o.paystatus, o.waitmin, o.ordernum,
      o.requestmemo, o.totalamount, items.length, lines.join('\u0002'),
      fresh[idx] && Date.now() - fresh[idx] < FRESH_MS ? 1 : 0, detailFor === idx ? 1 : 0].join('\u0003');
  }

  function render() {
    var root = TW.byId('orderList');
    if (!root) return;
    var lanes = root.querySelector('.lanes');
    if (!lanes) {
      lanes = el('div', 'lanes');
      LANES.forEach(function (l) {
        var col = el('section', 'lane lane-' + l.key);
        col.setAttribute('data-lane', l.key);
        var h = el('h2', 'lane-title');
        h.appendChild(el('span', null, l.title));
        h.appendChild(el('b', 'lane-count', '0'));
        col.appendChild(h);
        col.appendChild(el('div', 'lane-cards'));
        lanes.appendChild(col);
      });
      root.appendChild(lanes);
    }
    var groups = { new: [], cooking: [], payment: [], done: [] };
    orders.forEach(function (o) { groups[lane(o)].push(o); });
    // Oldest first in the working lanes; the latest first among the done.
    groups.done.reverse();
    var kept = {};
    LANES.forEach(function (l) {
      var col = lanes.querySelector('[data-lane="' + l.key + '"]');
      var box = col.querySelector('.lane-cards');
      // A card is drawn again only when its order, its highlight or its
      // selection changed; the others stay as they are, so a busy board
      // costs little to redraw.
      var nodes = groups[l.key].map(function (o) {
        var idx = num(o.orderidx, 0);
        var key = cardKey(o, idx);
        var cached = cards[idx];
        if (!cached || cached.key !== key) cached = cards[idx] = { key: key, node: card(o) };
        kept[idx] = true;
        return cached.node;
      });
      nodes.forEach(function (node, i) {
        if (box.children[i] !== node) box.insertBefore(node, box.children[i] || null);
      });
      while (box.children.length > nodes.length) box.removeChild(box.lastChild);
      col.querySelector('.lane-count').textContent = String(groups[l.key].length);
    });
    Object.keys(cards).forEach(function (idx) { if (!kept[idx]) delete cards[idx]; });
    TW.show('emptyState', orders.length === 0);
    lanes.classList.toggle('hidden', orders.length === 0);
  }

  // Lists and announcements can come many times a second on a busy day:
  // the board is drawn with the latest of them on the next frame, and at
  // most once every DRAW_SPACING_MS, since every drawing costs the web view
  // a repaint and the window a copy of it. A window that draws no frames
  // (minimised) is drawn by the timer instead.
  var DRAW_SPACING_MS = 100;
  var drawPending = false;
  var drawnAt = 0;
  var scrollTarget = null;
  var scrolledAt = 0;
  function draw() {
    if (!drawPending) return;
    drawPending = false;
    drawnAt = Date.now();
    render();
    if (scrollTarget !== null) {
      var node = document.querySelector('.card[data-orderidx="' + scrollTarget + '"]');
      // A smooth scroll repaints the lane for a good many frames: in a
      // rush of orders the board jumps to the newest card instead.
      var now = Date.now();
      if (node && node.scrollIntoView) node.scrollIntoView({ block: 'nearest', behavior: now - scrolledAt > 1000 ? 'smooth' : 'auto' });
      scrolledAt = now;
      scrollTarget = null;
    }
  }
  function scheduleDraw() {
    if (drawPending) return;
    drawPending = true;
    var wait = Math.max(0, drawnAt + DRAW_SPACING_MS - Date.now());
    var onFrame = function () { if (window.requestAnimationFrame) window.requestAnimationFrame(draw); };
    if (wait > 0) setTimeout(onFrame, wait); else onFrame();
    setTimeout(draw, wait + 250);
  }
  TW.flushBoard = function () { draw(); };

  window.setOrderList = function (text) {
    var data;
    try { data = typeof text === 'string' ? JSON.parse(text) : text; } catch (e) { return; }
    if (!data || !Array.isArray(data.orders)) return;
    orders = data.orders;
    TW.orders = orders;
    scheduleDraw();
  };

  // A new order is drawn out for a while; the alert (badge and sound) is the
  // program's business and follows from the same callback.
  var lastToast = 0;
  function announce(orderidx, text) {
    var idx = num(orderidx, 0);
    fresh[idx] = Date.now();
    scrollTarget = idx;
    scheduleDraw();
    // One toast for a burst of orders, not one per order.
    if (text && Date.now() - lastToast > 1000) {
      lastToast = Date.now();
      TW.toast(text);
    }
    setTimeout(scheduleDraw, FRESH_MS + 100);
  }
  window.notifyNewOrder = function (orderidx) { announce(orderidx, '새 주문이 들어왔습니다'); };
  window.notifyPaying = function (orderidx) { announce(orderidx, '결제가 완료되었습니다'); };
  window.notifyPayFail = function (orderidx) { announce(orderidx, '결제에 실패한 주문이 있습니다'); };

  window.setTodaySummary = function (count, amount) {
    TW.setText('todayCount', won(count));
    TW.setText('todayAmount', won(amount));
  };
  window.setTableCount = function (count) {
    var n = num(count, 0);
    TW.setText('tableInfo', n > 0 ? '테이블 ' + n + '개' : '');
  };

  // The detail pane.
  function pane() { return TW.byId('orderDetail'); }
  function closeDetail() {
    detailFor = null;
    TW.show('orderDetail', false);
    render();
  }
  function openDetail(idx) {
    detailFor = idx;
    var p = pane();
    p.textContent = '';
    var head = el('div', 'detail-head');
    head.appendChild(el('h2', null, '주문 상세'));
    head.lastChild.id = 'detailTitle';
    var close = el('button', 'btn small', '닫기');
    close.type = 'button';
    close.addEventListener('click', closeDetail);
    head.appendChild(close);
    p.appendChild(head);
    p.appendChild(el('div', 'detail-loading', '불러오는 중입니다…'));
    TW.show('orderDetail', true);
    render();
    TW.send('orderdetail', String(idx));
  }
  window.setOrderDetail = function (text) {
    var d;
    try { d = typeof text === 'string' ? JSON.parse(text) : text; } catch (e) { d = { error: 1, msg: '주문 상세를 읽지 못했습니다' }; }
    var p = pane();
    if (!p || !d) return;
    if (detailFor !== null && num(d.orderidx, detailFor) !== detailFor) return;
    var body = p.querySelector('.detail-loading, .detail-body');
    if (body) body.remove();
    body = el('div', 'detail-body');
    if (d.error) {
      body.appendChild(el('div', 'detail-error', d.msg || '주문 상세를 받지 못했습니다'));
      p.appendChild(body);
      return;
    }
    var o = null;
    for (var i = 0; i < orders.length; i++) if (num(orders[i].orderidx, -1) === num(d.orderidx, -2)) o = orders[i];
    var k = kindLabel(o || d);
    var title = el('div', 'detail-title');
    title.appendChild(el('span', 'chip kind-' + k.cls, k.text));
    title.appendChild(el('span', 'num', orderNumber(d) + '번'));
    body.appendChild(title);
    if (d.idate) body.appendChild(el('div', 'detail-time', '주문 시각 ' + d.idate));
    var menus = Array.isArray(d.menus) ? d.menus : [];
    var ul = el('ul', 'detail-lines');
    menus.forEach(function (m) {
      var li = el('li');
      var row = el('div', 'row');
      row.appendChild(el('span', 'mname', m.mname || ''));
      row.appendChild(el('span', 'qty', '×' + num(m.qty, 1)));
      if (m.amount !== undefined) row.appendChild(el('span', 'amount', won(m.amount) + '원'));
      li.appendChild(row);
      (Array.isArray(m.options) ? m.options : []).forEach(function (op) {
        li.appendChild(el('div', 'option', '+ ' + (op.optionname || '') + (num(op.optionprice, 0) ? ' (' + won(op.optionprice) + '원)' : '')));
      });
      if (m.comment) li.appendChild(el('div', 'comment', m.comment));
      ul.appendChild(li);
    });
    body.appendChild(ul);
    if (d.requestmemo) body.appendChild(el('div', 'memo', '요청 사항: ' + d.requestmemo));
    var sum = el('div', 'detail-sum');
    sum.appendChild(el('span', null, num(d.paystatus, 1) === 1 ? '결제 완료' : '결제 전'));
    sum.appendChild(el('b', null, won(d.totalamount) + '원'));
    body.appendChild(sum);
    p.appendChild(body);
  };

  document.addEventListener('keydown', function (e) { if (e.key === 'Escape' && detailFor !== null) closeDetail(); });
  var refresh = TW.byId('refreshBtn');
  if (refresh) refresh.addEventListener('click', function () { TW.send('refreshorders'); });
  // Wait times move on between pushes: the list is asked for again every minute.
  setInterval(function () { if (orders.length) TW.send('refreshorders'); }, 60000);
  TW.boardLane = lane;
  TW.boardKind = kind;
  render();
})();
