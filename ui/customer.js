/* The customer display: an idle screen until the counter sends an order.
   The state arrives as a small JSON object through setCust; "s":"idle" is
   the idle screen, "s":"order" shows the lines and the total. */
(function () {
  'use strict';
  function byId(id) { return document.getElementById(id); }
  function won(n) { return (Number(n) || 0).toLocaleString('ko-KR') + '원'; }

  function tick() {
    var now = new Date();
    var pad = function (n) { return (n < 10 ? '0' : '') + n; };
    byId('idleClock').textContent = (now.getMonth() + 1) + '월 ' + now.getDate() + '일  ' + pad(now.getHours()) + ':' + pad(now.getMinutes());
  }
  tick();
  setInterval(tick, 10000);

  function showIdle(state) {
    byId('idle').classList.remove('hidden');
    byId('order').classList.add('hidden');
    byId('idleTitle').textContent = (state && state.title) || '어서 오세요';
    byId('idleSub').textContent = (state && state.sub) || '주문하실 메뉴를 말씀해 주세요';
  }

  function showOrder(state) {
    var list = byId('orderLines');
    list.textContent = '';
    (state.items || []).forEach(function (item) {
      var li = document.createElement('li');
      var name = document.createElement('span');
      name.textContent = (item.name || '') + (item.qty ? ' × ' + item.qty : '');
      var price = document.createElement('span');
      price.textContent = won(item.price);
      li.appendChild(name);
      li.appendChild(price);
      list.appendChild(li);
    });
    byId('orderTitle').textContent = state.title || '주문 내역';
    byId('orderTotal').textContent = won(state.total);
    byId('idle').classList.add('hidden');
    byId('order').classList.remove('hidden');
  }

  window.setCust = function (state) {
    if (typeof state === 'string') {
      try { state = JSON.parse(state); } catch (e) { state = null; }
    }
    if (state && state.s === 'order') showOrder(state);
    else showIdle(state);
  };
  showIdle(null);
})();
