/* The customer display: on the second monitor and on a tablet at the
   counter. The counter pages send the state as a small JSON object through
   setCust:
     {"s":"idle", "title"?, "sub"?}                     the idle screen
     {"s":"order", "title"?, "items":[{"name","qty","price"}], "total"}
     {"s":"pay", "amount", "url", "expires"?, "title"?}  the payment QR;
                                                         expires in ms (or s) since 1970
     {"s":"paid", "title"?}                              thanks after the payment
   The shop's name comes from the program (setShopName) or, on a tablet,
   from the door's /ping. */
(function () {
  'use strict';
  var shop = '';
  var payTimer = 0;

  function byId(id) { return document.getElementById(id); }
  function won(n) { return (Number(n) || 0).toLocaleString('ko-KR') + '원'; }
  function pad(n) { return (n < 10 ? '0' : '') + n; }
  function only(id) {
    ['idle', 'order', 'pay', 'paid'].forEach(function (name) { byId(name).classList.toggle('hidden', name !== id); });
  }

  function tick() {
    var now = new Date();
    byId('idleClock').textContent = (now.getMonth() + 1) + '월 ' + now.getDate() + '일  ' + pad(now.getHours()) + ':' + pad(now.getMinutes());
  }
  tick();
  setInterval(tick, 10000);

  function showShop() {
    byId('idleShop').textContent = shop;
    byId('orderShop').textContent = shop;
  }

  function showIdle(state) {
    byId('idleTitle').textContent = (state && state.title) || '어서 오세요';
    byId('idleSub').textContent = (state && state.sub) || '주문하실 메뉴를 말씀해 주세요';
    only('idle');
  }

  function showOrder(state) {
    var list = byId('orderLines');
    list.textContent = '';
    (Array.isArray(state.items) ? state.items : []).forEach(function (item) {
      var li = document.createElement('li');
      var name = document.createElement('span');
      var qty = Number(item.qty) || 1;
      name.textContent = (item.name || item.mname || '') + (qty > 1 ? ' × ' + qty : '');
      var price = document.createElement('span');
      price.textContent = won((Number(item.price) || 0) * qty);
      li.appendChild(name);
      li.appendChild(price);
      list.appendChild(li);
    });
    byId('orderTitle').textContent = state.title || '주문 내역';
    byId('orderTotal').textContent = won(state.total);
    only('order');
  }

  function drawQr(text) {
    var box = byId('payQr');
    box.textContent = '';
    if (!text || typeof window.qrcode !== 'function') return;
    try {
      var qr = window.qrcode(0, 'M');
      qr.addData(String(text));
      qr.make();
      box.innerHTML = qr.createSvgTag({ cellSize: 8, margin: 2, scalable: true });
    } catch (e) {
      box.textContent = 'QR 을 그리지 못했습니다';
    }
  }

  function showValidity(expires) {
    clearInterval(payTimer);
    var valid = byId('payValid');
    if (!expires) { valid.textContent = ''; return; }
    var until = expires < 1e12 ? expires * 1000 : expires;
    function update() {
      var left = Math.round((until - Date.now()) / 1000);
      if (left <= 0) {
        valid.textContent = '유효 시간이 지났습니다 — 직원에게 말씀해 주세요';
        valid.classList.add('over');
        byId('payQr').classList.add('over');
        clearInterval(payTimer);
        return;
      }
      valid.classList.remove('over');
      byId('payQr').classList.remove('over');
      valid.textContent = Math.floor(left / 60) + '분 ' + pad(left % 60) + '초 안에 결제해 주세요';
    }
    update();
    payTimer = setInterval(update, 1000);
  }

  function showPay(state) {
    byId('payTitle').textContent = state.title || '휴대폰으로 QR 을 찍어 결제해 주세요';
    byId('payAmount').textContent = won(state.amount);
    drawQr(state.url || state.qr || '');
    showValidity(Number(state.expires) || 0);
    only('pay');
  }

  window.setShopName = function (name) {
    shop = String(name || '');
    showShop();
  };

  window.setCust = function (state) {
    if (typeof state === 'string') {
      try { state = JSON.parse(state); } catch (e) { state = null; }
    }
    if (!state || state.s !== 'pay') clearInterval(payTimer);
    if (state && state.shop) window.setShopName(state.shop);
    if (state && state.s === 'order') showOrder(state);
    else if (state && state.s === 'pay') showPay(state);
    else if (state && state.s === 'paid') {
      byId('paidTitle').textContent = state.title || '결제가 끝났습니다';
      only('paid');
    } else showIdle(state);
  };

  // On a tablet the door says whose shop this is.
  if (window.tillwaveDoor && window.fetch) {
    var askShop = function () {
      fetch('/ping', { cache: 'no-store' }).then(function (r) { return r.json(); })
        .then(function (j) { window.setShopName(j && j.store); }).catch(function () {});
    };
    askShop();
    setInterval(askShop, 60000);
  }
  showIdle(null);
})();
