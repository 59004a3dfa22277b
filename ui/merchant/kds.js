/* The kitchen display. The order list comes from the POS (setOrderList, fed
   by polling the tablet door every second); a tap sends one door command.
   Tickets show how long each order has waited and turn amber after 10 and
   red after 20 minutes. When the door cannot be reached the last list stays
   on screen, dimmed, with how old it is. */
(function () {
  'use strict';
  var WARN_MIN = 10;
  var LATE_MIN = 20;
  var STALE_MS = 3500;        // no answer for this long: the list is old
  var PENDING_MS = 10000;     // a tapped ticket waits this long for the POS to answer

  var orders = [];
  var receivedAt = 0;          // when the list arrived (its waiting minutes count from here)
  var lastOk = 0;              // the last answer of the door (200 or 304)
  var lastStatus = -1;
  var lastWhy = '';
  var pending = {};            // orderidx -> { status, at }

  function byId(id) { return document.getElementById(id); }
  function num(v, d) { var n = parseInt(v, 10); return isNaN(n) ? d : n; }
  function el(tag, cls, text) {
    var n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text !== undefined && text !== null) n.textContent = String(text);
    return n;
  }
  function send() {
    var text = Array.prototype.join.call(arguments, '</>');
    if (window.tillwave && typeof window.tillwave.viewinfo === 'function') window.tillwave.viewinfo(text);
  }

  function kindText(o) {
    var table = num(o.tablenum, 0);
    var src = String(o.ordersrc || '');
    if (table > 0) return src === 'table_takeout' ? '테이블 ' + table + ' 포장' : '테이블 ' + table;
    if (num(o.pickup, 0) > 0) return '픽업';
    if (src.indexOf('takeout') >= 0) return '포장';
    if (src === 'pos') return '매장 주문';
    return '주문';
  }
  function waitedMinutes(o) {
    var base = num(o.waitmin, 0);
    return Math.max(0, base + Math.floor((Date.now() - receivedAt) / 60000));
  }

  function ticket(o) {
    var idx = num(o.orderidx, 0);
    var status = num(o.status, 1);
    var minutes = waitedMinutes(o);
    var t = el('article', 'ticket' + (minutes >= LATE_MIN ? ' late' : minutes >= WARN_MIN ? ' warn' : ''));
    t.setAttribute('data-orderidx', String(idx));
    var head = el('div', 'ticket-head');
    var number = o.ordernum && String(o.ordernum) !== '0' ? o.ordernum : idx;
    head.appendChild(el('span', 'ticket-num', number));
    head.appendChild(el('span', 'ticket-kind', kindText(o)));
    var age = el('span', 'ticket-age', minutes < 1 ? '방금' : String(minutes));
    if (minutes >= 1) age.appendChild(el('small', '', '분'));
    head.appendChild(age);
    t.appendChild(head);

    var list = el('ul', 'ticket-lines');
    (Array.isArray(o.items) ? o.items : []).forEach(function (it) {
      var li = el('li');
      li.appendChild(el('span', 'name', it.mname || ''));
      li.appendChild(el('span', 'qty', '×' + num(it.qty, 1)));
      list.appendChild(li);
      if (it.comment) list.appendChild(el('li', 'comment', '└ ' + it.comment));
    });
    t.appendChild(list);
    if (o.requestmemo) t.appendChild(el('div', 'ticket-memo', o.requestmemo));

    var wait = pending[idx];
    var button = el('button', 'ticket-action' + (status === 2 ? ' serve' : ''));
    button.type = 'button';
    if (wait && wait.status === status && Date.now() - wait.at < PENDING_MS) {
      button.disabled = true;
      button.textContent = '보내는 중…';
    } else {
      delete pending[idx];
      button.textContent = status === 2 ? '완료' : '조리 시작';
    }
    t.appendChild(el('div', 'ticket-state', status === 2 ? '조리 중' : '새 주문'));
    button.addEventListener('click', function () {
      pending[idx] = { status: status, at: Date.now() };
      if (status === 2) send('servedone', idx);
      else send('cookstart', idx, 0);
      render();
    });
    t.appendChild(button);
    return t;
  }

  function note(title, sub, error) {
    var n = byId('kdsNote');
    n.classList.toggle('hidden', !title);
    n.classList.toggle('error', !!error);
    byId('kdsNoteTitle').textContent = title || '';
    byId('kdsNoteSub').textContent = sub || '';
  }

  function render() {
    var grid = byId('kdsGrid');
    var cooking = orders.filter(function (o) { var s = num(o.status, 1); return s === 1 || s === 2; });
    cooking.sort(function (a, b) { return num(b.waitmin, 0) - num(a.waitmin, 0) || num(a.orderidx, 0) - num(b.orderidx, 0); });
    grid.textContent = '';
    cooking.forEach(function (o) { grid.appendChild(ticket(o)); });
    var fresh = cooking.filter(function (o) { return num(o.status, 1) === 1; }).length;
    var counts = byId('kdsCounts');
    counts.textContent = '';
    var a = el('span', '', '새 주문'); a.appendChild(el('b', '', fresh));
    var b = el('span', '', '조리 중'); b.appendChild(el('b', '', cooking.length - fresh));
    counts.appendChild(a); counts.appendChild(b);

    if (lastStatus === 401) note('이 태블릿의 짝이 풀렸습니다', 'POS 설정의 태블릿 QR 을 다시 찍어 주세요.', true);
    else if (lastStatus === 503 && !receivedAt) note(lastWhy || 'POS 가 준비되지 않았습니다', 'POS 에서 로그인하면 주문이 나타납니다.', true);
    else if (!receivedAt) note('주문 목록을 기다리는 중입니다', 'POS 와 연결되면 조리할 주문이 여기에 나타납니다.');
    else if (!cooking.length) note('조리할 주문이 없습니다', '새 주문이 들어오면 바로 보입니다.');
    else note('');
  }

  function showLink() {
    var now = Date.now();
    var stale = !lastOk || now - lastOk > STALE_MS;
    var pill = byId('kdsLink');
    pill.classList.toggle('on', !stale);
    pill.classList.toggle('off', stale);
    byId('kdsLinkText').textContent = stale ? '연결 끊김' : '연결됨';
    var banner = byId('kdsStale');
    var showBanner = stale && receivedAt > 0;
    banner.classList.toggle('hidden', !showBanner);
    if (showBanner) {
      var seconds = Math.round((now - Math.max(lastOk, receivedAt)) / 1000);
      var age = seconds < 60 ? seconds + '초' : Math.floor(seconds / 60) + '분';
      banner.textContent = 'POS 와 연결이 끊겼습니다 — ' + age + ' 전 주문 목록을 보여 주고 있습니다';
    }
    byId('kdsGrid').classList.toggle('stale', showBanner);
    var d = new Date();
    var pad = function (n) { return (n < 10 ? '0' : '') + n; };
    byId('kdsClock').textContent = pad(d.getHours()) + ':' + pad(d.getMinutes());
  }

  window.setOrderList = function (list) {
    if (typeof list === 'string') {
      try { list = JSON.parse(list); } catch (e) { return; }
    }
    if (!list || !Array.isArray(list.orders)) return;
    orders = list.orders;
    receivedAt = Date.now();
    lastOk = receivedAt;
    render();
    showLink();
  };
  window.onDoorPoll = function (status, why) {
    var was = lastStatus;
    lastStatus = status;
    lastWhy = why || '';
    if (status === 200 || status === 304) lastOk = Date.now();
    if (status !== was) render();
    showLink();
  };
  window.setStoreName = function (name) { if (name) byId('kdsStore').textContent = name + ' 주방'; };

  // The shop's name, from the door (the tablet bridge defines tillwaveDoor).
  if (window.tillwaveDoor && window.fetch) {
    fetch('/ping', { cache: 'no-store' }).then(function (r) { return r.json(); })
      .then(function (j) { window.setStoreName(j && j.store); }).catch(function () {});
  }
  render();
  showLink();
  setInterval(showLink, 1000);
  setInterval(render, 30000);
})();
