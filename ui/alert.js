/* The order board's part in the new-order alert. After every order list the
   page tells the program how many orders wait (`badge`); when the program
   announces a new order, the page looks the order up in the list it just
   received and hands its label and amount to the alert (`notify`). The
   program decides whether to call for attention: only while the POS is
   covered by other windows. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};
  var lastOrders = [];
  var lastCount = null;

  function send() {
    var text = Array.prototype.join.call(arguments, '</>');
    if (window.tillwave && typeof window.tillwave.viewinfo === 'function') window.tillwave.viewinfo(text);
  }

  function num(value, fallback) {
    if (value === undefined || value === null || value === '') return fallback;
    var n = parseInt(value, 10);
    return isNaN(n) ? fallback : n;
  }

  // An order waits for the staff while the board shows it among the new
  // ones: not done or cancelled, not waiting for its payment, not cooking.
  function waiting(order) {
    var status = num(order.status, 1);
    if (status === 4 || status === 3 || status === 2 || status === 0) return false;
    return num(order.paystatus, 1) === 1 || num(order.prepay, 0) === 0;
  }

  // What the badge shows for an order, in the board's own words: the table,
  // or the kind of order with the number the customer was given.
  function label(order) {
    var table = num(order.tablenum, 0);
    var src = String(order.ordersrc || '');
    var number = order.ordernum;
    if (number === undefined || number === null || number === '' || String(number) === '0') number = order.orderidx;
    var items = Array.isArray(order.items) ? order.items : [];
    var plain = src === 'plainpay' || (num(order.menucount, 1) === 0 && items.length === 0 &&
      !((src === 'table' || src === 'table_takeout') && table > 0) && !(src === 'map_takeout' && table === 0) && src !== 'pos');
    if (plain) return 'QR 결제 ' + number + '번';
    if (src === 'table_takeout' && table > 0) return '테이블 ' + table + ' 포장';
    if (table > 0 && src !== 'map_takeout' && src !== 'pos') return '테이블 ' + table;
    if (src === 'map_takeout') return (num(order.pickup, 0) > 0 ? '픽업 ' : '포장 ') + number + '번';
    if (src === 'pos' || num(order.prepay, 0) === 1) return 'POS ' + number + '번';
    if (num(order.pickup, 0) > 0) return '픽업 ' + number + '번';
    return '주문 ' + number + '번';
  }

  function parseList(text) {
    try {
      var data = typeof text === 'string' ? JSON.parse(text) : text;
      return data && Array.isArray(data.orders) ? data.orders : [];
    } catch (e) {
      return null;
    }
  }

  function onList(text) {
    var orders = parseList(text);
    if (!orders) return;
    lastOrders = orders;
    var count = orders.filter(waiting).length;
    if (count !== lastCount) {
      lastCount = count;
      send('badge', String(count));
    }
  }

  function onNewOrder(orderidx) {
    var idx = num(orderidx, 0);
    var order = null;
    for (var i = 0; i < lastOrders.length; i++) {
      if (num(lastOrders[i].orderidx, -1) === idx) { order = lastOrders[i]; break; }
    }
    if (order) send('notify', String(idx), label(order), String(num(order.totalamount, 0)));
    else send('notify', String(idx), '주문 ' + idx + '번', '0');
  }

  TW.alertLabel = label;
  TW.alertWaiting = waiting;

  // The board's own callbacks keep working: each is wrapped, whichever
  // script defined it and in whatever order the scripts were loaded.
  function wrap(name, after) {
    var inner = window[name];
    if (inner && inner.tillbayAlert) return;
    var outer = function () {
      var result;
      if (typeof inner === 'function') result = inner.apply(this, arguments);
      try { after.apply(this, arguments); } catch (e) { /* the alert never breaks the board */ }
      return result;
    };
    outer.tillbayAlert = true;
    window[name] = outer;
  }
  function install() {
    wrap('setOrderList', onList);
    wrap('notifyNewOrder', onNewOrder);
  }
  install();
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', install);
  window.addEventListener('load', install);
})();
