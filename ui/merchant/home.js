/* The owner's home page: the dashboard (getmaindash → setMainDash) and the
   menu of back-office pages. Every page opens through the bridge's `nav`
   family, which checks the sign-in and the service gates and fetches a page
   the bundle lacks. */
(function () {
  'use strict';
  var TW = window.TW;

  // Each tile: the bridge command, the title, a line under it, the letter of
  // its icon, and the dashboard figure shown as its badge.
  var GROUPS = [
    { title: '매장 운영', tiles: [
      { cmd: 'storemenu', title: '메뉴 관리', sub: '메뉴·분류·품절', icon: '메' },
      { cmd: 'storekds', title: '주방 화면', sub: '조리할 주문 보기', icon: '주', badge: 'waiting' },
      { cmd: 'storehours', title: '영업 시간', sub: '영업일·휴무일', icon: '시' },
      { cmd: 'storemanager', title: '매장 정보', sub: '주소·연락처·소개', icon: '정' },
      { cmd: 'storepromo', title: '할인·행사', sub: '프로모션 관리', icon: '행' },
      { cmd: 'aisetting', title: 'AI 안내', sub: '주문 안내 문구', icon: 'AI' }
    ] },
    { title: '주문·매출', tiles: [
      { cmd: 'storeacount', title: '매출', sub: '기간별 매출 집계', icon: '매' },
      { cmd: 'storebuysales', title: '상품 판매', sub: '최근 7일 판매', icon: '판' },
      { cmd: 'storebuy', title: '배송 주문', sub: '발송할 주문', icon: '배', badge: 'mallwaiting' },
      { cmd: 'storebuycancel', title: '구매 취소', sub: '취소 요청 처리', icon: '취' },
      { cmd: 'openclaimlist', title: '교환·반품', sub: '클레임 처리', icon: '클' },
      { cmd: 'storebulkship', title: '일괄 발송', sub: '송장 파일로 발송', icon: '송' }
    ] },
    { title: '손님', tiles: [
      { cmd: 'storereview', title: '리뷰', sub: '리뷰 답변 달기', icon: '리', badge: 'noreply' },
      { cmd: 'messagelist', title: '메시지', sub: '본사·손님 메시지', icon: '쪽', badge: 'unreadmessages' }
    ] },
    { title: '상품·판매자', tiles: [
      { cmd: 'storeproductmgr', title: '상품 관리', sub: '쇼핑 상품 등록', icon: '상' },
      { cmd: 'companymall', title: '회사 몰', sub: '본사 몰 주문', icon: '몰' },
      { cmd: 'storeseller', title: '판매자 정보', sub: '정산 계좌·담당자', icon: '판' },
      { cmd: 'storebiz', title: '사업자·약관', sub: '사업자 정보·정책', icon: '사' }
    ] },
    { title: '계정·이 PC', tiles: [
      { cmd: 'storepw', title: '비밀번호 변경', sub: '가맹점 비밀번호', icon: '암' },
      { cmd: 'storesetting', title: '더 보기', sub: '그 밖의 설정', icon: '더' },
      { cmd: 'posprinter', title: '프린터 설정', sub: '영수증·주방 프린터', icon: '프', pos: true },
      { cmd: 'possettings', title: 'POS 설정', sub: '화면·알림·자동 실행', icon: '설', pos: true }
    ] }
  ];

  var badges = {};

  function el(tag, cls, text) {
    var n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text !== undefined && text !== null) n.textContent = String(text);
    return n;
  }

  function buildMenu() {
    var box = TW.byId('menuGroups');
    GROUPS.forEach(function (group) {
      var section = el('div', 'menu-group');
      section.appendChild(el('h3', '', group.title));
      var tiles = el('div', 'menu-tiles');
      group.tiles.forEach(function (t) {
        var b = el('button', 'tile' + (t.pos ? ' pos' : ''));
        b.type = 'button';
        b.setAttribute('data-cmd', t.cmd);
        b.appendChild(el('span', 'tile-icon', t.icon));
        b.appendChild(el('span', 'tile-title', t.title));
        b.appendChild(el('span', 'tile-sub', t.sub));
        if (t.badge) {
          var badge = el('span', 'tile-badge hidden');
          badges[t.badge] = (badges[t.badge] || []).concat([badge]);
          b.appendChild(badge);
        }
        b.addEventListener('click', function () { TW.send(t.cmd); });
        tiles.appendChild(b);
      });
      section.appendChild(tiles);
      box.appendChild(section);
    });
  }

  function number(v) {
    var n = Number(v);
    return isFinite(n) ? n : 0;
  }
  function money(v) { return number(v).toLocaleString('ko-KR'); }
  function stat(id, value, alert) {
    TW.setText(id, value);
    var card = TW.byId(id) && TW.byId(id).closest('.stat');
    if (card) card.classList.toggle('alert', !!alert);
  }

  function tick() {
    var now = new Date();
    var pad = function (n) { return (n < 10 ? '0' : '') + n; };
    TW.setText('clock', pad(now.getHours()) + ':' + pad(now.getMinutes()));
  }

  function askDash() {
    TW.homeAsked = true;
    TW.byId('dashGrid').classList.add('loading');
    TW.send('getmaindash');
  }

  // Callbacks.
  window.setStatus = function (message) {
    message = message == null ? '' : String(message);
    if (!message) return;
    TW.setText('statusLine', message);
    TW.toast(message);
  };
  window.setStoreName = function (name) {
    name = name == null ? '' : String(name);
    if (name) TW.setText('storeName', name);
    document.title = (name ? name + ' · ' : '') + 'TILLWAVE 가맹점 관리';
  };
  window.setMainDash = function (text) {
    var d;
    try { d = typeof text === 'string' ? JSON.parse(text) : (text || {}); } catch (e) { d = null; }
    TW.byId('dashGrid').classList.remove('loading');
    if (!d) { window.setStatus('매장 현황을 읽지 못했습니다'); return; }
    if (d.shopname) window.setStoreName(d.shopname);
    stat('dashCount', money(d.todaycount));
    stat('dashAmount', money(d.todayamount));
    stat('dashWaiting', money(d.waiting), number(d.waiting) > 0);
    stat('dashCooking', money(d.cooking));
    stat('dashNoReply', money(d.noreply), number(d.noreply) > 0);
    TW.setText('dashReviews', '전체 리뷰 ' + money(d.reviewcount) + '건');
    stat('dashMessages', money(d.unreadmessages), number(d.unreadmessages) > 0);
    stat('dashMall', money(d.mallwaiting), number(d.mallwaiting) > 0);
    Object.keys(badges).forEach(function (key) {
      var n = number(d[key]);
      badges[key].forEach(function (badge) {
        badge.textContent = n > 99 ? '99+' : String(n);
        badge.classList.toggle('hidden', n <= 0);
      });
    });
    var open = d.openstatus;
    if (open !== undefined && open !== null) {
      var on = number(open) === 1;
      var pill = TW.byId('openPill');
      pill.classList.remove('hidden');
      pill.classList.toggle('on', on);
      pill.classList.toggle('off', !on);
      TW.setText('openText', on ? '영업 중' : '영업 준비');
    }
    var now = new Date();
    var pad = function (n) { return (n < 10 ? '0' : '') + n; };
    TW.setText('dashWhen', pad(now.getHours()) + ':' + pad(now.getMinutes()) + ' 기준');
  };
  window.applyStoreType = function (type) {
    document.documentElement.setAttribute('data-storetype', String(Number(type) || 0));
  };
  window.setMerchState = function (signedIn) {
    // The owner signed out while the POS stays signed in: back to the board.
    if (Number(signedIn) !== 1) TW.send('storepos');
  };
  window.setFontSizes = function (text) {
    var parts = String(text || '').split(',');
    var pct = Number(parts[2]);
    if (!(pct >= 50 && pct <= 200)) pct = 100;
    TW.byId('homeMain').style.zoom = String(pct / 100);
  };

  buildMenu();
  tick();
  setInterval(tick, 5000);
  TW.byId('posBtn').addEventListener('click', function () { TW.send('openpos'); });
  TW.byId('merchLogoutBtn').addEventListener('click', function () { TW.send('merchlogout'); });
  TW.byId('dashRefresh').addEventListener('click', askDash);
  TW.bindCommonButtons();

  TW.send('gettheme');
  TW.send('getfull');
  TW.send('getfontsize');
  TW.send('getservice');
  askDash();
})();
