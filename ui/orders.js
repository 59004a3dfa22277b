/* The order board's frame: store name, push channel state, notices, status
   line and version. The board itself fills #orderList. */
(function () {
  'use strict';
  var TW = window.TW;

  function tick() {
    var now = new Date();
    var pad = function (n) { return (n < 10 ? '0' : '') + n; };
    TW.setText('clock', pad(now.getHours()) + ':' + pad(now.getMinutes()));
  }
  tick();
  setInterval(tick, 5000);

  // The status line keeps the latest message; the toast shows it briefly.
  window.setStatus = function (message) {
    message = message == null ? '' : String(message);
    if (!message) return;
    TW.setText('statusLine', message);
    TW.toast(message);
  };
  window.setStoreName = function (name) {
    name = name == null ? '' : String(name);
    TW.setText('storeName', name || '매장');
    document.title = (name ? name + ' · ' : '') + 'TILLWAVE POS';
  };
  window.setRelayState = function (state, text) {
    var on = state === 'on';
    var pill = TW.byId('relayPill');
    pill.classList.toggle('on', on);
    pill.classList.toggle('off', !on);
    TW.setText('relayText', text || (on ? '주문 수신 중' : '연결 대기'));
  };
  window.setPayBase = function (webHost, storeIdx) {
    TW.payBase = { webHost: webHost == null ? '' : String(webHost), storeIdx: Number(storeIdx) || 0 };
  };
  window.setOrderRequestContext = function (host, storeIdx, pending, unreadable, version, key) {
    TW.orderRequest = { host: host, storeIdx: Number(storeIdx) || 0, pending: pending || '', key: key || '' };
    var text = '';
    if (unreadable === true || unreadable === 'true') text = '보내던 주문 기록을 읽지 못했습니다. 주문 목록을 확인해 주세요.';
    else if (pending) text = '보내던 주문이 있습니다. 주문 목록에서 들어갔는지 확인해 주세요.';
    TW.setText('pendingOrderText', text);
    TW.show('pendingOrder', !!text);
  };
  function openSheet(title, body) {
    TW.setText('sheetTitle', title);
    TW.setText('sheetBody', body);
    TW.show('settingsSheet', true);
  }
  window.openPrinterSetup = function () {
    openSheet('프린터 설정', '처음 사용하시는 PC 입니다. 영수증·주방 프린터를 연결해 주세요.');
  };
  window.openPosSettings = function () {
    openSheet('POS 설정', '처음 사용하시는 PC 입니다. 매장에 맞게 POS 설정을 확인해 주세요.');
  };
  TW.byId('sheetClose').addEventListener('click', function () { TW.show('settingsSheet', false); });

  TW.onTheme = function (theme) { TW.setText('themeBtn', theme === 'dark' ? '밝은 화면' : '어두운 화면'); };
  TW.byId('themeBtn').addEventListener('click', function () {
    var dark = document.documentElement.getAttribute('data-theme') !== 'dark';
    window.setTheme(dark ? 'dark' : 'light');
    TW.send('settheme', dark ? 'dark' : 'light');
  });
  TW.byId('logoutBtn').addEventListener('click', function () { TW.send('logout'); });
  Array.prototype.forEach.call(document.querySelectorAll('.filter'), function (button) {
    button.addEventListener('click', function () {
      Array.prototype.forEach.call(document.querySelectorAll('.filter'), function (b) { b.classList.toggle('active', b === button); });
      TW.filter = button.getAttribute('data-filter');
    });
  });
  TW.bindCommonButtons();

  TW.send('gettheme');
  TW.send('getfull');
  TW.send('getservice');
})();
