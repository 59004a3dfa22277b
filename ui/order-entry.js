/* Taking an order at the counter: categories and menus from the server, a
   cart with quantities and options, the table or takeout, a request memo
   and the total. "주문" places the order under a request key; the program
   keeps it in its recovery journal until this page has the outcome and
   forgets it. "QR 결제" places the order and shows its payment QR here and
   on the customer display. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};

  var MEMOS = ['덜 맵게', '맵게', '수저 빼 주세요', '얼음 적게', '빨리 부탁드려요'];
  var NO_ANSWER = '서버 응답을 받지 못했습니다. 같은 주문으로 다시 확인할 수 있습니다';
  var UNKNOWN = '주문 결과를 확인하지 못했습니다. 다시 확인하거나 주문 목록·이력을 확인해 주세요';

  var cats = [];
  var tables = 0;
  var activeCat = 0;
  var menusByCat = {};
  var optionsByMenu = {};
  var cart = [];
  var where = 0; // 0: takeout, otherwise the table number
  var memos = {};
  var sending = false;
  var pending = null;     // {key, order, context, label} of an order whose outcome is unknown
  var unreadable = false; // the journal could not be read
  var lastPayMake = null; // {order, key} of a payment QR order not confirmed yet
  var pay = null;         // the QR on screen: {orderidx, amount, url, until}
  var payTimer = 0;
  var custTimer = 0;

  function num(value, fallback) {
    var n = Number(value);
    return isFinite(n) ? n : fallback;
  }
  function won(n) { return (num(n, 0)).toLocaleString('ko-KR') + '원'; }
  function yes(value) { return value === 1 || value === '1' || value === 'Y' || value === 'y' || value === true; }
  function no(value) { return value === 0 || value === '0' || value === 'N' || value === 'n' || value === false; }
  function el(tag, cls, text) {
    var node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text != null) node.textContent = text;
    return node;
  }
  function button(cls, text, onClick) {
    var b = el('button', cls, text);
    b.type = 'button';
    b.addEventListener('click', onClick);
    return b;
  }
  function parse(text) {
    if (text && typeof text === 'object') return text;
    try { return JSON.parse(text); } catch (e) { return null; }
  }
  // A request key: 16 to 60 letters, digits or '-'.
  function newKey() {
    var bytes = new Uint8Array(12);
    window.crypto.getRandomValues(bytes);
    var hex = Array.prototype.map.call(bytes, function (b) { return (b < 16 ? '0' : '') + b.toString(16); }).join('');
    return 'pos-' + Date.now().toString(36) + '-' + hex;
  }
  // A bridge field must not hold the separator "</>": a JSON text writes
  // its slashes escaped, which reads back the same.
  function field(jsonText) { return jsonText.replace(/\//g, '\\/'); }

  // ---- the screen ----------------------------------------------------------
  var root = el('section', 'take hidden');
  root.id = 'takeOrder';
  root.setAttribute('aria-label', '주문 받기');
  var top = el('header', 'take-top');
  top.appendChild(el('h2', null, '주문 받기'));
  var whereNote = el('span', 'pill', '포장');
  top.appendChild(whereNote);
  top.appendChild(button('btn', '주문판으로', function () { close(); }));
  var notice = el('div', 'take-notice');
  var body = el('div', 'take-body');
  var catBox = el('nav', 'take-cats');
  var menuBox = el('div', 'take-menus');
  var cartBox = el('aside', 'take-cart');
  body.appendChild(catBox);
  body.appendChild(menuBox);
  body.appendChild(cartBox);
  root.appendChild(top);
  root.appendChild(notice);
  root.appendChild(body);

  var whereWrap = el('div');
  whereWrap.appendChild(el('div', 'take-label', '자리'));
  var whereBox = el('div', 'take-where');
  whereWrap.appendChild(whereBox);
  var memoWrap = el('div');
  memoWrap.appendChild(el('div', 'take-label', '요청 사항'));
  var memoBox = el('div', 'take-memos');
  memoWrap.appendChild(memoBox);
  var lineBox = el('ul', 'take-lines');
  var totalRow = el('div', 'take-total');
  totalRow.appendChild(el('span', null, '합계'));
  var totalText = el('b', null, '0원');
  totalRow.appendChild(totalText);
  var actions = el('div', 'take-actions');
  var qrBtn = button('btn', 'QR 결제', function () { payQrMake(); });
  var orderBtn = button('btn primary', '주문', function () { placeOrder(); });
  qrBtn.id = 'takeQrBtn';
  orderBtn.id = 'takePlaceBtn';
  actions.appendChild(qrBtn);
  actions.appendChild(orderBtn);
  cartBox.appendChild(whereWrap);
  cartBox.appendChild(memoWrap);
  cartBox.appendChild(lineBox);
  cartBox.appendChild(totalRow);
  cartBox.appendChild(actions);
  document.body.appendChild(root);

  MEMOS.forEach(function (text) {
    memoBox.appendChild(button(null, text, function (e) {
      memos[text] = !memos[text];
      e.currentTarget.classList.toggle('active', !!memos[text]);
    }));
  });

  function open() {
    root.classList.remove('hidden');
    document.body.classList.add('taking');
    renderNotice();
    TW.send('menucats');
  }
  function close() {
    root.classList.add('hidden');
    document.body.classList.remove('taking');
    closePay();
    TW.send('custshow', JSON.stringify({ s: 'idle' }));
  }
  TW.openTakeOrder = open;

  function renderWhere() {
    whereBox.textContent = '';
    var choices = [0];
    for (var t = 1; t <= tables; t++) choices.push(t);
    choices.forEach(function (t) {
      var b = button(t === where ? 'active' : '', t === 0 ? '포장' : String(t), function () { where = t; renderWhere(); });
      b.setAttribute('data-where', String(t));
      whereBox.appendChild(b);
    });
    whereNote.textContent = where === 0 ? '포장' : where + '번 자리';
  }

  function renderCats() {
    catBox.textContent = '';
    cats.forEach(function (c) {
      var b = button('take-cat' + (c.idx === activeCat ? ' active' : ''), c.name, function () { chooseCat(c.idx); });
      b.setAttribute('data-cat', String(c.idx));
      catBox.appendChild(b);
    });
  }
  function chooseCat(idx) {
    activeCat = idx;
    renderCats();
    renderMenus();
    TW.send('menulist', String(idx));
  }

  function renderMenus() {
    menuBox.textContent = '';
    var list = menusByCat[activeCat];
    if (!list) { menuBox.appendChild(el('div', 'take-empty', '메뉴를 불러오는 중입니다…')); return; }
    if (!list.length) { menuBox.appendChild(el('div', 'take-empty', '이 분류에는 메뉴가 없습니다')); return; }
    list.forEach(function (m) {
      var off = yes(m.soldout) || no(m.useyn);
      var b = button('take-menu', null, function () { pick(m); });
      b.setAttribute('data-menuidx', String(m.menuidx));
      b.appendChild(el('span', 'name', m.mname));
      var groups = optionsByMenu[m.menuidx] || [];
      b.appendChild(el('span', 'tag', off ? '품절' : (groups.length ? '옵션 선택' : '')));
      b.appendChild(el('span', 'price', won(m.price)));
      b.disabled = off;
      menuBox.appendChild(b);
    });
  }

  function lineAmount(line) {
    var one = num(line.price, 0);
    line.options.forEach(function (o) { one += num(o.optionprice, 0); });
    return one * line.qty;
  }
  function total() { return cart.reduce(function (sum, line) { return sum + lineAmount(line); }, 0); }

  function renderCart() {
    lineBox.textContent = '';
    if (!cart.length) lineBox.appendChild(el('li', 'take-cart-empty', '메뉴를 누르면 여기에 담깁니다'));
    cart.forEach(function (line, index) {
      var li = el('li');
      var row = el('div', 'take-line');
      row.appendChild(el('span', 'name', line.mname));
      var qty = el('span', 'take-qty');
      qty.appendChild(button(null, '−', function () { line.qty -= 1; if (line.qty < 1) cart.splice(index, 1); changed(); }));
      qty.appendChild(el('b', null, String(line.qty)));
      qty.appendChild(button(null, '+', function () { if (line.qty < 99) line.qty += 1; changed(); }));
      row.appendChild(qty);
      row.appendChild(el('span', 'amount', won(lineAmount(line))));
      li.appendChild(row);
      if (line.options.length)
        li.appendChild(el('div', 'opts', line.options.map(function (o) { return o.optionname; }).join(', ')));
      lineBox.appendChild(li);
    });
    totalText.textContent = won(total());
    orderBtn.disabled = sending || !cart.length;
    qrBtn.disabled = sending || !cart.length;
  }

  function changed() {
    renderCart();
    // The customer display follows the cart, a moment after the last change.
    clearTimeout(custTimer);
    custTimer = setTimeout(function () {
      if (pay) return;
      var state = cart.length
        ? { s: 'order', items: cart.map(function (l) { return { name: l.mname, qty: l.qty, price: lineAmount(l) / l.qty }; }), total: total() }
        : { s: 'idle' };
      TW.send('custshow', JSON.stringify(state));
    }, 300);
  }

  function addLine(menu, options) {
    var same = cart.filter(function (l) {
      return l.menuidx === menu.menuidx && JSON.stringify(l.options) === JSON.stringify(options);
    })[0];
    if (same) same.qty += 1;
    else cart.push({ menuidx: menu.menuidx, mname: menu.mname, price: num(menu.price, 0), qty: 1, options: options });
    changed();
  }

  // ---- the option picker ---------------------------------------------------
  function pick(menu) {
    var groups = (optionsByMenu[menu.menuidx] || []).filter(function (g) { return !no(g.useyn); });
    if (!groups.length) { addLine(menu, []); return; }
    var chosen = {};
    var sheet = el('div', 'take-sheet');
    var card = el('div', 'take-sheet-card');
    card.setAttribute('role', 'dialog');
    card.appendChild(el('h3', null, menu.mname + ' · ' + won(menu.price)));
    groups.forEach(function (g) {
      var multi = yes(g.multiselectyn);
      var box = el('div', 'take-group');
      var head = el('h4', null, g.gname);
      head.appendChild(el('small', null, (yes(g.requiredyn) ? '꼭 고르기' : '고르지 않아도 됨') + (multi ? ' · 여러 개' : '')));
      box.appendChild(head);
      var choices = el('div', 'choices');
      chosen[g.idx] = [];
      (g.items || []).filter(function (it) { return !no(it.useyn); }).forEach(function (it) {
        var label = it.iname + (num(it.addprice, 0) ? ' +' + won(it.addprice) : '');
        var b = button(null, label, function () {
          var list = chosen[g.idx];
          var at = list.indexOf(it);
          if (at >= 0) list.splice(at, 1);
          else if (multi) list.push(it);
          else { list.length = 0; list.push(it); }
          Array.prototype.forEach.call(choices.children, function (c) { c.classList.toggle('active', list.indexOf(c.item) >= 0); });
        });
        b.item = it;
        b.disabled = yes(it.soldout);
        choices.appendChild(b);
      });
      box.appendChild(choices);
      card.appendChild(box);
    });
    var acts = el('div', 'take-sheet-actions');
    acts.appendChild(button('btn', '취소', function () { sheet.remove(); }));
    acts.appendChild(button('btn primary', '담기', function () {
      var missing = groups.filter(function (g) { return yes(g.requiredyn) && !chosen[g.idx].length; })[0];
      if (missing) { TW.toast(missing.gname + ' 을(를) 골라 주세요'); return; }
      var options = [];
      groups.forEach(function (g) {
        chosen[g.idx].forEach(function (it) { options.push({ optionname: it.iname, optionprice: num(it.addprice, 0) }); });
      });
      sheet.remove();
      addLine(menu, options);
    }));
    card.appendChild(acts);
    sheet.appendChild(card);
    root.appendChild(sheet);
  }

  // ---- placing the order ---------------------------------------------------
  function orderText() {
    var memo = MEMOS.filter(function (m) { return memos[m]; }).join(', ');
    var order = {
      tablenum: where,
      takeout: where === 0 ? 1 : 0,
      requestmemo: memo,
      totalamount: total(),
      items: cart.map(function (l) {
        return { menuidx: l.menuidx, mname: l.mname, qty: l.qty, price: l.price, options: l.options };
      })
    };
    return field(JSON.stringify(order));
  }
  function label() {
    var count = cart.reduce(function (n, l) { return n + l.qty; }, 0);
    return (where === 0 ? '포장' : where + '번 자리') + ' · ' + count + '개 · ' + won(total());
  }
  function setSending(on) {
    sending = on;
    orderBtn.textContent = on ? '보내는 중…' : '주문';
    renderCart();
    renderNotice();
  }

  function placeOrder() {
    if (sending || !cart.length) return;
    if (pending) { TW.toast('보내던 주문을 먼저 확인해 주세요'); renderNotice(); return; }
    var order = orderText();
    var context = field(JSON.stringify({ v: 1, order: order, label: label() }));
    pending = { key: newKey(), order: order, context: context, label: label(), fresh: true };
    setSending(true);
    TW.send('placeorder', order, pending.key, context);
  }
  function resend() {
    if (!pending || sending) return;
    setSending(true);
    TW.send('placeorder', pending.order, pending.key, pending.context);
  }
  function forget() {
    if (sending) return;
    TW.send('orderrequestforget', unreadable ? '' : (pending ? pending.key : ''));
  }

  window.orderRequestResult = function (key, orderidx, message) {
    var mine = pending && pending.key === key;
    setSending(false);
    if (num(orderidx, 0) > 0) {
      TW.toast('주문을 넣었습니다 — ' + (mine ? pending.label : '') );
      if (mine && pending.fresh) { cart = []; memos = {}; Array.prototype.forEach.call(memoBox.children, function (b) { b.classList.remove('active'); }); changed(); }
      pending = null;
      TW.send('orderrequestforget', key);
      renderNotice();
      return;
    }
    if (mine && (message === NO_ANSWER || message === UNKNOWN)) {
      pending.fresh = false;
      pending.message = message;
    } else if (mine) {
      // Refused before it was sent: nothing is pending for this key.
      pending = null;
    }
    if (message) TW.toast(message);
    renderNotice();
  };
  window.orderRequestForgot = function (key, forgotten) {
    if (forgotten !== true && forgotten !== 'true') { renderNotice(); return; }
    if (!pending || pending.key === key || key === '') {
      if (pending && !pending.fresh) TW.toast('보내던 주문을 정리했습니다');
      pending = null;
      unreadable = false;
    }
    renderNotice();
  };

  // What the journal held when the page loaded: an order whose outcome the
  // program never learnt (after a crash or a lost answer).
  var boardContext = window.setOrderRequestContext;
  window.setOrderRequestContext = function (host, storeIdx, context, unread, version, key) {
    if (typeof boardContext === 'function') boardContext.apply(this, arguments);
    unreadable = unread === true || unread === 'true';
    pending = null;
    if (key && context) {
      var saved = parse(context) || {};
      pending = { key: String(key), order: typeof saved.order === 'string' ? saved.order : '', context: String(context),
        label: saved.label || '', fresh: false, message: '' };
    }
    renderNotice();
  };

  function renderNotice() {
    notice.textContent = '';
    // The board's own banner says the same while an outcome is unknown.
    var unknown = unreadable || (pending && !pending.fresh);
    if (!unknown) TW.show('pendingOrder', false);
    else if (!unreadable) {
      TW.setText('pendingOrderText', '보내던 주문이 있습니다. 주문 받기에서 다시 보내거나 잊어 주세요.');
      TW.show('pendingOrder', true);
    }
    if (!pending && !unreadable) return;
    var bar = el('div', 'banner warn');
    bar.id = 'takePending';
    var text = unreadable
      ? '보내던 주문 기록을 읽지 못했습니다. 주문 목록을 확인한 뒤 잊기를 눌러 주세요.'
      : (sending ? '주문을 보내는 중입니다 — ' + pending.label
        : (pending.fresh ? '' : '확인되지 않은 주문이 있습니다 — ' + (pending.label || '앞선 주문') + '. 주문판에서 들어갔는지 보고 다시 보내거나 잊어 주세요.'));
    if (!text) return;
    bar.appendChild(el('span', 'grow', text));
    if (!sending) {
      if (!unreadable && pending.order) bar.appendChild(button('btn small primary', '다시 보내기', resend));
      bar.appendChild(button('btn small', '잊기', forget));
    }
    notice.appendChild(bar);
  }

  // ---- the payment QR -------------------------------------------------------
  function payUrl(token) {
    var base = (TW.payBase && TW.payBase.webHost) || '';
    if (base && !/^https?:\/\//.test(base)) base = 'https://' + base;
    var store = (TW.payBase && TW.payBase.storeIdx) || 0;
    return base.replace(/\/+$/, '') + '/pay?store=' + store + '&token=' + encodeURIComponent(token);
  }
  // The server's expiry "YYYY-MM-DD HH:MM:SS" (local time) in ms.
  function expiryMs(text) {
    var m = /^(\d{4})-(\d{2})-(\d{2})[ T](\d{2}):(\d{2})(?::(\d{2}))?/.exec(String(text || ''));
    if (!m) return 0;
    return new Date(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +(m[6] || 0)).getTime();
  }

  function payQrMake() {
    if (sending || !cart.length) return;
    var order = orderText();
    // The same order after a failed attempt goes again under the same key:
    // the server takes it as the same request, never as a second order.
    var key = lastPayMake && lastPayMake.order === order ? lastPayMake.key : newKey();
    lastPayMake = { order: order, key: key };
    setSending(true);
    TW.send('payqrmake', order, key);
  }
  TW.payQrFor = function (orderList) { TW.send('payqrall', String(orderList)); };

  var paySheet = el('div', 'take-sheet hidden');
  paySheet.id = 'payQrSheet';
  var payCard = el('div', 'take-sheet-card take-pay');
  payCard.setAttribute('role', 'dialog');
  var payTitle = el('h3', null, '결제 QR');
  var payQr = el('div', 'qr');
  payQr.id = 'payQrCode';
  var payAmount = el('div', 'amount');
  var payValid = el('div', 'valid');
  var payPaid = el('div', 'paid hidden', '결제가 끝났습니다');
  var waitSwitch = button('switch', '', function () {
    if (pay) TW.send('qrwait', String(pay.orderidx), waitSwitch.classList.contains('on') ? 'off' : 'on');
  });
  waitSwitch.setAttribute('aria-label', '결제 대기');
  var waitRow = el('label', 'take-wait');
  waitRow.appendChild(el('span', null, '손님 결제 기다리기'));
  waitRow.appendChild(waitSwitch);
  var payActs = el('div', 'take-sheet-actions');
  var extendBtn = button('btn', '연장', function () { if (pay) TW.send('qrextend', String(pay.orderidx)); });
  extendBtn.id = 'payQrExtend';
  payActs.appendChild(extendBtn);
  payActs.appendChild(waitRow);
  payActs.appendChild(button('btn primary', '닫기', function () { closePay(); TW.send('custshow', JSON.stringify({ s: 'idle' })); }));
  [payTitle, payQr, payAmount, payValid, payPaid, payActs].forEach(function (n) { payCard.appendChild(n); });
  paySheet.appendChild(payCard);
  document.body.appendChild(paySheet);

  function drawQr(text) {
    payQr.textContent = '';
    if (typeof window.qrcode !== 'function') { payQr.textContent = 'QR 을 그리지 못했습니다'; return; }
    try {
      var qr = window.qrcode(0, 'M');
      qr.addData(text);
      qr.make();
      payQr.innerHTML = qr.createSvgTag({ cellSize: 8, margin: 2, scalable: true });
    } catch (e) {
      payQr.textContent = 'QR 을 그리지 못했습니다';
    }
  }
  function showValidity() {
    clearInterval(payTimer);
    function update() {
      if (!pay) return;
      var left = Math.round((pay.until - Date.now()) / 1000);
      var over = pay.until > 0 && left <= 0;
      payValid.classList.toggle('over', over);
      payQr.classList.toggle('over', over);
      if (!pay.until) payValid.textContent = '';
      else if (over) payValid.textContent = '유효 시간이 지났습니다 — 연장을 눌러 주세요';
      else payValid.textContent = Math.floor(left / 60) + '분 ' + (left % 60 < 10 ? '0' : '') + (left % 60) + '초 남았습니다';
    }
    update();
    payTimer = setInterval(update, 1000);
  }
  function showCustomerPay() {
    if (pay) TW.send('custshow', JSON.stringify({ s: 'pay', amount: pay.amount, url: pay.url, expires: pay.until }));
  }
  function closePay() {
    clearInterval(payTimer);
    pay = null;
    paySheet.classList.add('hidden');
  }

  window.setPayQr = function (result) {
    var r = parse(result) || {};
    var fromCart = sending;
    setSending(false);
    if (!num(r.ok, 0)) return; // the program has said why
    if (fromCart) {
      lastPayMake = null;
      cart = [];
      changed();
    }
    if (num(r.fallback, 0) || !r.token) {
      TW.toast('주문은 들어갔지만 QR 을 만들지 못했습니다 — 주문판에서 다시 만들어 주세요');
      return;
    }
    pay = { orderidx: num(r.orderidx, 0), amount: num(r.amount, 0), url: payUrl(r.token), until: expiryMs(r.expire) };
    payTitle.textContent = '결제 QR · 주문 ' + (r.ordernum || r.orderidx) + (num(r.tablenum, 0) > 0 ? ' · ' + r.tablenum + '번 자리' : '')
      + (num(r.groupcount, 0) > 1 ? ' · ' + r.groupcount + '건' : '');
    payAmount.textContent = won(pay.amount);
    payPaid.classList.add('hidden');
    extendBtn.classList.remove('hidden');
    waitRow.classList.remove('hidden');
    waitSwitch.classList.remove('on');
    drawQr(pay.url);
    payQr.setAttribute('data-url', pay.url);
    paySheet.classList.remove('hidden');
    showValidity();
    showCustomerPay();
  };
  window.setQrExtend = function (result) {
    var r = parse(result) || result || {};
    if (!pay || num(r.orderidx, 0) !== pay.orderidx) return;
    if (!num(r.ok, 0)) { TW.toast('유효 시간을 늘리지 못했습니다'); return; }
    pay.until = expiryMs(r.expire) || pay.until;
    showValidity();
    showCustomerPay();
    TW.toast('결제 QR 유효 시간을 늘렸습니다');
  };
  window.setQrWait = function (result) {
    var r = parse(result) || result || {};
    if (!pay || num(r.orderidx, 0) !== pay.orderidx) return;
    if (!num(r.ok, 0)) { TW.toast('결제 대기 상태를 바꾸지 못했습니다'); return; }
    waitSwitch.classList.toggle('on', !!num(r.on, 0));
  };

  function paid(orderidx) {
    if (!pay || num(orderidx, 0) !== pay.orderidx) return;
    clearInterval(payTimer);
    payPaid.classList.remove('hidden');
    payValid.textContent = '';
    payQr.classList.add('over');
    extendBtn.classList.add('hidden');
    waitRow.classList.add('hidden');
    TW.send('custshow', JSON.stringify({ s: 'paid' }));
  }
  var boardList = window.setOrderList;
  window.setOrderList = function (text) {
    if (typeof boardList === 'function') boardList.apply(this, arguments);
    if (!pay) return;
    var data = parse(text);
    var orders = data && Array.isArray(data.orders) ? data.orders : [];
    orders.forEach(function (o) { if (num(o.orderidx, 0) === pay.orderidx && num(o.paystatus, 0) === 1) paid(o.orderidx); });
  };
  var boardPaying = window.notifyPaying;
  window.notifyPaying = function (orderidx) {
    if (typeof boardPaying === 'function') boardPaying.apply(this, arguments);
    paid(orderidx);
  };

  // ---- the menu from the program ------------------------------------------
  window.setMenuCats = function (text) {
    var data = parse(text);
    if (!data) return;
    tables = Math.max(0, Math.min(200, num(data.tablenum, 0)));
    cats = (Array.isArray(data.categories) ? data.categories : []).map(function (c) {
      return { idx: num(c.categoryidx != null ? c.categoryidx : c.idx, 0), name: String(c.ctname || c.name || '') };
    });
    renderWhere();
    if (!cats.length) { renderCats(); menuBox.textContent = ''; menuBox.appendChild(el('div', 'take-empty', '등록된 메뉴가 없습니다')); return; }
    var keep = cats.some(function (c) { return c.idx === activeCat; });
    chooseCat(keep ? activeCat : cats[0].idx);
  };
  window.setMenuList = function (categoryidx, menusText, optionsText) {
    var idx = num(categoryidx, 0);
    var menus = parse(menusText);
    var options = parse(optionsText);
    (options && Array.isArray(options.options) ? options.options : []).forEach(function (o) {
      optionsByMenu[num(o.menuidx, 0)] = Array.isArray(o.groups) ? o.groups : [];
    });
    menusByCat[idx] = (menus && Array.isArray(menus.menus) ? menus.menus : []).map(function (m) {
      return { menuidx: num(m.menuidx, 0), mname: String(m.mname || ''), price: num(m.price, 0), soldout: m.soldout, useyn: m.useyn };
    });
    if (idx === activeCat) renderMenus();
  };

  var openBtn = TW.byId('takeOrderBtn');
  if (openBtn) openBtn.addEventListener('click', open);
  document.addEventListener('keydown', function (e) {
    if (e.key !== 'Escape' || root.classList.contains('hidden')) return;
    var sheet = root.querySelector('.take-sheet');
    if (sheet) sheet.remove();
    else if (!paySheet.classList.contains('hidden')) closePay();
  });
  renderWhere();
  renderCart();
})();
