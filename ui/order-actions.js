/* What the counter does with an order: the action bar of the detail pane
   (start cooking, served, ready for pickup, cash, card terminal, cancel,
   quantities, table, drawer, kitchen ticket, receipt), the several-orders
   bar of the board (select cards, then start, pay or cancel them together),
   and the PIN pad the staff lock asks for. Every button waits for the
   program's answer before it can be pressed again. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};

  var busy = false;          // one action at a time; the answer frees the buttons
  var busyTimer = 0;
  var BUSY_MS = 20000;       // a lost answer frees them after this long
  var current = null;        // the order detail shown
  var selected = {};         // orderidx -> true, in several-orders mode
  var selecting = false;
  var pinWanted = null;      // { action, detail } the PIN pad is for

  function num(value, fallback) {
    var n = parseInt(value, 10);
    return isNaN(n) ? fallback : n;
  }
  function won(n) { return String(num(n, 0)).replace(/\B(?=(\d{3})+(?!\d))/g, ','); }
  function el(tag, cls, text) {
    var n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text !== undefined && text !== null) n.textContent = String(text);
    return n;
  }
  function button(text, cls, onClick, id) {
    var b = el('button', 'btn small' + (cls ? ' ' + cls : ''), text);
    b.type = 'button';
    if (id) b.id = id;
    b.addEventListener('click', function () { if (!busy) onClick(); });
    return b;
  }
  function setBusy(on, text) {
    busy = on;
    clearTimeout(busyTimer);
    document.body.classList.toggle('oa-busy', on);
    Array.prototype.forEach.call(document.querySelectorAll('.oa-bar .btn, .oa-multi .btn, .oa-dialog .btn.primary'),
      function (b) { b.disabled = on; });
    var line = TW.byId('oaProgress');
    if (line) {
      line.textContent = on ? (text || '처리 중입니다…') : '';
      line.classList.toggle('hidden', !on);
    }
    if (on) busyTimer = setTimeout(function () { setBusy(false); }, BUSY_MS);
  }
  // Sends a command whose answer (a callback or the refreshed board) frees the buttons.
  function act(text) {
    setBusy(true, text);
    TW.send.apply(null, Array.prototype.slice.call(arguments, 1));
  }

  // ---- dialogs ------------------------------------------------------------

  function dialog(title, build, onOk, okText) {
    closeDialog();
    var back = el('div', 'oa-dialog');
    back.id = 'oaDialog';
    back.setAttribute('role', 'dialog');
    back.setAttribute('aria-modal', 'true');
    var card = el('div', 'oa-card');
    card.appendChild(el('h3', null, title));
    var body = el('div', 'oa-body');
    build(body);
    card.appendChild(body);
    var actions = el('div', 'oa-actions');
    actions.appendChild(button('닫기', '', closeDialog, 'oaCancel'));
    if (onOk) actions.appendChild(button(okText || '확인', 'primary', function () { onOk(body); }, 'oaOk'));
    card.appendChild(actions);
    back.appendChild(card);
    back.addEventListener('click', function (e) { if (e.target === back) closeDialog(); });
    document.body.appendChild(back);
    var first = card.querySelector('input');
    if (first) first.focus();
    return body;
  }
  function closeDialog() {
    var d = TW.byId('oaDialog');
    if (d) d.remove();
  }
  function field(body, label, id, value, mode) {
    var row = el('label', 'oa-field');
    row.appendChild(el('span', null, label));
    var input = el('input');
    input.id = id;
    input.value = value || '';
    if (mode) input.inputMode = mode;
    row.appendChild(input);
    body.appendChild(row);
    return input;
  }

  function pinPad(action, detail, mode) {
    pinWanted = { action: action, detail: detail };
    var text = mode === 2 ? '사장님 PIN 이 있어야 합니다' : '직원 PIN 을 넣어 주세요';
    dialog('PIN 입력', function (body) {
      body.appendChild(el('p', 'oa-hint', text));
      var input = field(body, 'PIN', 'oaPin', '', 'numeric');
      input.type = 'password';
      input.maxLength = 12;
      var keys = el('div', 'oa-keys');
      ['1', '2', '3', '4', '5', '6', '7', '8', '9', '지움', '0', '확인'].forEach(function (k) {
        var b = el('button', 'btn oa-key', k);
        b.type = 'button';
        b.addEventListener('click', function () {
          if (k === '지움') input.value = input.value.slice(0, -1);
          else if (k === '확인') sendPin();
          else if (input.value.length < 12) input.value += k;
        });
        keys.appendChild(b);
      });
      body.appendChild(keys);
      input.addEventListener('keydown', function (e) { if (e.key === 'Enter') sendPin(); });
    }, null);
  }
  function sendPin() {
    var input = TW.byId('oaPin');
    if (!input || !pinWanted) return;
    var pin = input.value.replace(/\D/g, '');
    if (!pin) return;
    var w = pinWanted;
    // The server checks a cancel's PIN itself; the local lock checks the rest.
    if (w.action === 'cancel' || w.action === 'cancelall') {
      closeDialog();
      pinWanted = null;
      act('취소하는 중입니다…', w.action === 'cancel' ? 'cancelorder' : 'cancelall', w.detail, pin, '');
      return;
    }
    act('PIN 을 확인하는 중입니다…', 'checkpin', pin, w.action, w.detail);
  }

  window.needLock = function (action, mode, detail) {
    setBusy(false);
    pinPad(String(action), String(detail || ''), num(mode, 1));
  };
  window.lockResult = function (ok, action, detail) {
    setBusy(false);
    if (!num(ok, 0)) {
      var input = TW.byId('oaPin');
      if (input) { input.value = ''; input.focus(); }
      return;
    }
    closeDialog();
    pinWanted = null;
    // The page repeats the action the lock stopped.
    if (action === 'drawer') act('현금서랍을 여는 중입니다…', 'opendrawer');
    else if (action === 'editmenu') {
      var p = String(detail || '').split(',');
      act('주문을 고치는 중입니다…', 'editordermenu', p[0] || '', p[1] || '', p[2] || '');
    }
  };

  // ---- the detail pane's actions -----------------------------------------

  function cashDialog(orders, amount) {
    dialog(orders.length > 1 ? '현금 결제 (' + orders.length + '건)' : '현금 결제', function (body) {
      body.appendChild(el('div', 'oa-amount', (amount ? won(amount) + '원' : '')));
      field(body, '전화번호 (선택)', 'oaTel', '', 'tel');
    }, function () {
      var tel = TW.byId('oaTel').value;
      closeDialog();
      if (orders.length > 1) act('현금 결제 중입니다…', 'cashpayall', orders.join(','), tel);
      else act('현금 결제 중입니다…', 'cashpay', String(orders[0]), tel);
    }, '현금 받음');
  }
  function terminalDialog(orders, amount) {
    dialog('카드 단말기 결제 마감', function (body) {
      body.appendChild(el('p', 'oa-hint', 'POS 밖의 카드 단말기로 받은 주문을 닫습니다. POS 매출에는 잡히지 않습니다.'));
      var a = field(body, '받은 금액', 'oaExtAmount', amount ? String(amount) : '', 'numeric');
      a.placeholder = '비우면 주문 금액';
      var r = el('label', 'oa-check');
      var box = el('input');
      box.type = 'checkbox';
      box.id = 'oaExtReceipt';
      box.checked = true;
      r.appendChild(box);
      r.appendChild(el('span', null, '영수증 출력'));
      body.appendChild(r);
    }, function () {
      var amountText = TW.byId('oaExtAmount').value.replace(/\D/g, '');
      var receipt = TW.byId('oaExtReceipt').checked ? '1' : '0';
      closeDialog();
      act('마감하는 중입니다…', 'extpay', orders.join(','), amountText, receipt);
    }, '마감');
  }
  function cancelDialog(orders) {
    dialog(orders.length > 1 ? '주문 ' + orders.length + '건 취소' : '주문 취소', function (body) {
      body.appendChild(el('p', 'oa-hint', '취소한 주문은 되돌릴 수 없습니다. 결제된 주문은 결제도 취소됩니다.'));
    }, function () {
      closeDialog();
      if (orders.length > 1) act('취소하는 중입니다…', 'cancelall', orders.join(','), '');
      else act('취소하는 중입니다…', 'cancelorder', String(orders[0]), '', '');
    }, '취소하기');
  }
  function tableDialog(orders) {
    dialog('자리 옮기기', function (body) {
      field(body, '옮길 테이블 번호', 'oaTable', '', 'numeric');
    }, function () {
      var table = TW.byId('oaTable').value.replace(/\D/g, '');
      closeDialog();
      act('옮기는 중입니다…', 'mergetables', table || '0', orders.join(','));
    }, '옮기기');
  }
  function quantityDialog(orderidx, line) {
    dialog('수량 고치기 — ' + (line.mname || '메뉴'), function (body) {
      field(body, '새 수량 (0 이면 빼기)', 'oaQty', String(num(line.qty, 1)), 'numeric');
    }, function () {
      var qty = TW.byId('oaQty').value.replace(/\D/g, '');
      if (qty === '') return;
      closeDialog();
      act('주문을 고치는 중입니다…', 'editordermenu', String(orderidx), String(num(line.ordermenuidx, 0)), qty);
    }, '고치기');
  }

  function actionBar(d) {
    var idx = num(d.orderidx, 0);
    var status = num(d.status, 1);
    var paid = num(d.paystatus, 1) === 1;
    var bar = el('div', 'oa-bar');
    bar.id = 'oaBar';
    var progress = el('div', 'oa-progress hidden');
    progress.id = 'oaProgress';
    if (status !== 4 && status !== 3) {
      var flow = el('div', 'oa-group');
      if (status !== 2) flow.appendChild(button('조리 시작', 'primary', function () { act('조리를 시작하는 중입니다…', 'cookstart', String(idx), '0'); }, 'oaCook'));
      flow.appendChild(button('완료', '', function () { act('완료 처리 중입니다…', 'servedone', String(idx)); }, 'oaServed'));
      if (num(d.tablenum, 0) === 0) flow.appendChild(button('픽업 준비완료', '', function () { act('처리 중입니다…', 'pickupready', String(idx)); }, 'oaPickup'));
      bar.appendChild(flow);
      var money = el('div', 'oa-group');
      if (!paid) {
        money.appendChild(button('현금 결제', 'primary', function () { cashDialog([idx], num(d.totalamount, 0)); }, 'oaCash'));
        money.appendChild(button('카드 단말기 마감', '', function () { terminalDialog([idx], num(d.totalamount, 0)); }, 'oaTerminal'));
        if (TW.payQrFor) money.appendChild(button('QR 결제', '', function () { TW.payQrFor(String(idx)); }, 'oaPayQr'));
      }
      money.appendChild(button('자리 옮기기', '', function () { tableDialog([idx]); }, 'oaTable'));
      money.appendChild(button('주문 취소', 'danger', function () { cancelDialog([idx]); }, 'oaCancelOrder'));
      bar.appendChild(money);
    }
    var prints = el('div', 'oa-group');
    prints.appendChild(button('주문표 출력', '', function () { act('주문표를 보내는 중입니다…', 'printticket', String(idx), String(num(d.pickuptime, 0))); }, 'oaTicket'));
    prints.appendChild(button('현금서랍 열기', '', function () { act('현금서랍을 여는 중입니다…', 'opendrawer'); }, 'oaDrawer'));
    bar.appendChild(prints);
    var log = el('div', 'oa-log');
    log.id = 'oaTicketLog';
    bar.appendChild(log);
    bar.appendChild(progress);
    return bar;
  }

  // The quantity buttons beside each line of an open order.
  function lineButtons(pane, d) {
    if (num(d.status, 1) === 4) return;
    var menus = Array.isArray(d.menus) ? d.menus : [];
    var items = pane.querySelectorAll('.detail-lines > li');
    Array.prototype.forEach.call(items, function (li, i) {
      var line = menus[i];
      if (!line || !num(line.ordermenuidx, 0)) return;
      var b = button('수량', 'oa-line', function () { quantityDialog(num(d.orderidx, 0), line); });
      b.setAttribute('data-ordermenuidx', String(line.ordermenuidx));
      var row = li.querySelector('.row');
      (row || li).appendChild(b);
    });
  }

  var shown = window.setOrderDetail;
  window.setOrderDetail = function (text) {
    if (shown) shown(text);
    setBusy(false);
    var d;
    try { d = typeof text === 'string' ? JSON.parse(text) : text; } catch (e) { return; }
    var pane = TW.byId('orderDetail');
    if (!pane || !d || d.error) return;
    var body = pane.querySelector('.detail-body');
    if (!body) return;
    current = d;
    var old = TW.byId('oaBar');
    if (old) old.remove();
    lineButtons(body, d);
    body.appendChild(actionBar(d));
    TW.send('ticketlog', String(num(d.orderidx, 0)));
  };
  window.setTicketLog = function (orderidx, text) {
    setBusy(false);
    if (!current || num(current.orderidx, 0) !== num(orderidx, -1)) return;
    TW.setText('oaTicketLog', text || '');
  };

  // ---- answers ------------------------------------------------------------

  // Every refreshed list means the action's round trip is over.
  var listed = window.setOrderList;
  window.setOrderList = function (text) {
    if (listed) listed(text);
    setBusy(false);
    markSelected();
  };
  window.cashDone = function (ok) { setBusy(false); if (num(ok, 0)) clearSelection(); };
  window.cashAllDone = function (ok) { setBusy(false); if (num(ok, 0)) clearSelection(); };
  window.extPayDone = function (count) { setBusy(false); if (num(count, 0) > 0) clearSelection(); };
  window.cancelDone = function (orderidx, result) { setBusy(false); if (num(result, -1) === 0) clearSelection(); };
  window.mergeTablesDone = function () { setBusy(false); clearSelection(); };

  // ---- several orders at once -------------------------------------------

  function selectedList() { return Object.keys(selected).filter(function (k) { return selected[k]; }); }
  function clearSelection() { selected = {}; updateMulti(); markSelected(); }
  function markSelected() {
    Array.prototype.forEach.call(document.querySelectorAll('#orderList .card'), function (c) {
      c.classList.toggle('picked', !!selected[c.getAttribute('data-orderidx')]);
    });
  }
  function updateMulti() {
    var bar = TW.byId('oaMulti');
    if (!bar) return;
    var list = selectedList();
    TW.setText('oaMultiCount', selecting ? '선택 ' + list.length + '건' : '');
    Array.prototype.forEach.call(bar.querySelectorAll('.oa-needs'), function (b) { b.classList.toggle('hidden', !selecting); b.disabled = busy || list.length === 0; });
    TW.setText('oaSelect', selecting ? '선택 끝' : '여러 주문 선택');
    document.body.classList.toggle('oa-selecting', selecting);
  }
  function totalOf(list) {
    var sum = 0;
    (TW.orders || []).forEach(function (o) { if (list.indexOf(String(o.orderidx)) >= 0) sum += num(o.totalamount, 0); });
    return sum;
  }
  function multiBar() {
    var boardBar = TW.byId('boardBar');
    if (!boardBar || TW.byId('oaMulti')) return;
    var bar = el('div', 'oa-multi');
    bar.id = 'oaMulti';
    bar.appendChild(button('여러 주문 선택', '', function () {
      selecting = !selecting;
      if (!selecting) selected = {};
      updateMulti();
      markSelected();
    }, 'oaSelect'));
    bar.appendChild(el('span', 'oa-count', ''));
    bar.lastChild.id = 'oaMultiCount';
    function needs(text, cls, onClick, id) {
      var b = button(text, 'oa-needs hidden' + (cls ? ' ' + cls : ''), onClick, id);
      bar.appendChild(b);
    }
    needs('함께 조리 시작', 'primary', function () { act('조리를 시작하는 중입니다…', 'cookstartall', selectedList().join(',')); }, 'oaCookAll');
    needs('함께 현금 결제', '', function () { var l = selectedList(); cashDialog(l, totalOf(l)); }, 'oaCashAll');
    needs('함께 단말기 마감', '', function () { var l = selectedList(); terminalDialog(l, totalOf(l)); }, 'oaTerminalAll');
    needs('함께 QR 결제', '', function () { if (TW.payQrFor) TW.payQrFor(selectedList().join(',')); }, 'oaPayQrAll');
    needs('자리 옮기기', '', function () { tableDialog(selectedList()); }, 'oaTableAll');
    needs('함께 취소', 'danger', function () { cancelDialog(selectedList()); }, 'oaCancelAll');
    bar.appendChild(button('현금서랍', '', function () { act('현금서랍을 여는 중입니다…', 'opendrawer'); }, 'oaDrawerBar'));
    boardBar.insertBefore(bar, TW.byId('refreshBtn'));
    updateMulti();
  }
  // In several-orders mode a card click picks the card instead of opening it.
  document.addEventListener('click', function (e) {
    if (!selecting) return;
    var c = e.target.closest && e.target.closest('#orderList .card');
    if (!c) return;
    e.stopPropagation();
    e.preventDefault();
    var idx = c.getAttribute('data-orderidx');
    selected[idx] = !selected[idx];
    markSelected();
    updateMulti();
  }, true);

  document.addEventListener('keydown', function (e) { if (e.key === 'Escape') closeDialog(); });
  multiBar();
})();
