/* The board during an outage of the platform. setBoardOffline(since) shows
   the kept list read-only under a banner with the time it was fetched and
   how long the connection has been gone; actions on orders are refused with
   the reason instead of failing one by one. setBoardOnline() ends it. On the
   login page, setKeptBoard(since) offers the kept list after a sign-in that
   found no server. */
(function () {
  'use strict';
  var TW = window.TW;
  var REASON = '연결이 끊겨 지금은 주문을 처리할 수 없습니다 — 연결되면 바로 다시 불러옵니다';
  // Commands that change orders, refused while the board is read-only.
  var ACTIONS = ['cancelall', 'cancelorder', 'cashpay', 'cashpayall', 'cookstart', 'cookstartall', 'editordermenu',
    'extpay', 'mergetables', 'opendrawer', 'payqrall', 'payqrfor', 'payqrmake', 'pickupready', 'placeorder',
    'qrextend', 'servedone'];
  var since = 0;
  var lostAt = 0;
  var timer = null;

  function two(n) { return (n < 10 ? '0' : '') + n; }
  function clock(ms) { var d = new Date(ms); return two(d.getHours()) + ':' + two(d.getMinutes()); }
  function elapsed(ms) {
    var s = Math.max(0, Math.floor(ms / 1000));
    if (s < 60) return s + '초째';
    var m = Math.floor(s / 60);
    if (m < 60) return m + '분 ' + two(s % 60) + '초째';
    return Math.floor(m / 60) + '시간 ' + two(m % 60) + '분째';
  }
  function paint() {
    var text = '연결 끊김' + (since > 0 ? ' — ' + clock(since) + ' 기준' : '');
    TW.setText('outageText', text);
    TW.setText('outageClock', elapsed(Date.now() - lostAt));
  }

  TW.boardOffline = false;
  window.setBoardOffline = function (fetchedAt) {
    var at = Number(fetchedAt) || 0;
    if (at > 0) since = at;
    if (!TW.boardOffline) lostAt = Date.now();
    TW.boardOffline = true;
    document.body.classList.add('board-offline');
    TW.show('outageBar', true);
    var buttons = document.querySelectorAll('[data-order-action]');
    for (var i = 0; i < buttons.length; i++) { buttons[i].disabled = true; buttons[i].title = REASON; }
    paint();
    if (!timer) timer = setInterval(paint, 1000);
  };
  window.setBoardOnline = function () {
    TW.boardOffline = false;
    document.body.classList.remove('board-offline');
    TW.show('outageBar', false);
    var buttons = document.querySelectorAll('[data-order-action]');
    for (var i = 0; i < buttons.length; i++) { buttons[i].disabled = false; buttons[i].title = ''; }
    if (timer) { clearInterval(timer); timer = null; }
  };

  // Every order action goes through TW.send: while read-only, it is refused
  // here with the reason, once, instead of waiting for the server.
  var send = TW.send;
  TW.send = function (name) {
    if (TW.boardOffline && ACTIONS.indexOf(name) >= 0) {
      window.setStatus(REASON);
      return;
    }
    return send.apply(TW, arguments);
  };

  window.setKeptBoard = function (fetchedAt) {
    var at = Number(fetchedAt) || 0;
    var link = TW.byId('keptBoardBtn');
    if (!link || at <= 0) return;
    TW.setText('keptBoardBtn', '마지막 주문 목록 보기 (' + clock(at) + ' 기준, 읽기 전용)');
    TW.show('keptBoardBtn', true);
  };
  var kept = TW.byId('keptBoardBtn');
  if (kept) kept.addEventListener('click', function () { TW.send('keptboard'); });
})();
