/* The tablet door and the customer display in the POS settings panel: the
   door on or off, its port, its key with the pairing QR code, the PC's LAN
   addresses, the firewall, the door's log; the customer display on or off
   and the monitor it uses. Answers arrive as setTabletCfg and setCustCfg. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};
  if (!TW.settings) return;
  var el = TW.settings.el;
  var cfg = null;
  var chosen = 0;
  var refreshTimer = 0;
  var node = {};

  function button(text, cls, onClick) {
    var b = el('button', 'btn small' + (cls ? ' ' + cls : ''), text);
    b.type = 'button';
    b.addEventListener('click', onClick);
    return b;
  }
  function row(label) {
    var r = el('div', 'ps-row');
    if (label) r.appendChild(el('span', 'ps-label', label));
    return r;
  }

  function build(body) {
    var door = el('div', 'ps-group');
    door.id = 'doorGroup';
    var title = el('h3', '', '태블릿 문');
    node.pill = el('span', 'pill off', '닫힘');
    node.pill.id = 'doorPill';
    title.appendChild(node.pill);
    door.appendChild(title);
    door.appendChild(el('div', 'ps-hint', '매장 와이파이의 태블릿과 휴대폰에 손님 화면과 주방 화면을 띄웁니다.'));

    var onRow = row('문 열기');
    node.doorSwitch = el('button', 'ps-switch');
    node.doorSwitch.type = 'button';
    node.doorSwitch.id = 'doorSwitch';
    node.doorSwitch.setAttribute('aria-label', '태블릿 문 열기');
    node.doorSwitch.addEventListener('click', function () {
      TW.send('settablet', 'on', cfg && cfg.on ? '0' : '1');
    });
    onRow.appendChild(node.doorSwitch);
    door.appendChild(onRow);

    var portRow = row('포트');
    node.port = el('input', 'ps-input');
    node.port.id = 'doorPort';
    node.port.inputMode = 'numeric';
    node.port.maxLength = 5;
    portRow.appendChild(node.port);
    portRow.appendChild(button('포트 바꾸기', '', function () { TW.send('settablet', 'port', node.port.value.replace(/\D/g, '')); }));
    portRow.appendChild(el('span', 'ps-hint', '1024 ~ 65535'));
    door.appendChild(portRow);

    var pairRow = el('div', 'door-pair');
    node.qr = el('div', 'door-qr');
    node.qr.id = 'doorQr';
    pairRow.appendChild(node.qr);
    var pairInfo = el('div', 'door-pair-info');
    pairInfo.appendChild(el('div', 'door-pair-title', '태블릿으로 이 QR 을 찍으면 짝이 맺어집니다'));
    node.addrs = el('div', 'door-addrs');
    node.addrs.id = 'doorAddrs';
    pairInfo.appendChild(node.addrs);
    node.link = el('div', 'ps-mono door-link');
    node.link.id = 'doorLink';
    pairInfo.appendChild(node.link);
    var tokenRow = row('열쇠');
    node.token = el('span', 'ps-mono');
    node.token.id = 'doorToken';
    tokenRow.appendChild(node.token);
    tokenRow.appendChild(button('열쇠 새로 만들기', '', function () {
      if (window.confirm('열쇠를 새로 만들면 짝을 맺은 태블릿을 모두 다시 맺어야 합니다. 새로 만들까요?')) TW.send('tablettoken');
    }));
    pairInfo.appendChild(tokenRow);
    pairRow.appendChild(pairInfo);
    door.appendChild(pairRow);

    var fwRow = row('방화벽');
    node.fw = el('span', 'grow');
    node.fw.id = 'doorFw';
    fwRow.appendChild(node.fw);
    node.fwOpen = button('방화벽 열기', 'primary', function () { TW.send('tabletfw'); });
    node.fwOpen.id = 'doorFwOpen';
    node.fwClose = button('규칙 지우기', '', function () { TW.send('tabletfwclose'); });
    fwRow.appendChild(node.fwOpen);
    fwRow.appendChild(node.fwClose);
    door.appendChild(fwRow);

    var logHead = row();
    logHead.appendChild(el('strong', 'grow', '최근 접속 기록'));
    logHead.appendChild(button('새로 보기', '', function () { TW.send('gettablet'); }));
    door.appendChild(logHead);
    node.log = el('table', 'door-log');
    node.log.id = 'doorLog';
    door.appendChild(node.log);
    body.appendChild(door);

    var cust = el('div', 'ps-group');
    cust.id = 'custGroup';
    var ctitle = el('h3', '', '손님 화면');
    node.custPill = el('span', 'pill off', '꺼짐');
    node.custPill.id = 'custPill';
    ctitle.appendChild(node.custPill);
    cust.appendChild(ctitle);
    cust.appendChild(el('div', 'ps-hint', '손님 쪽으로 둔 두 번째 모니터에 주문 내역과 결제 QR 을 보여 줍니다. 태블릿의 손님 화면에도 같은 내용이 나옵니다.'));
    var custRow = row('손님 화면');
    node.custSwitch = el('button', 'ps-switch');
    node.custSwitch.type = 'button';
    node.custSwitch.id = 'custSwitch';
    node.custSwitch.setAttribute('aria-label', '손님 화면 켜기');
    node.custSwitch.addEventListener('click', function () {
      TW.send('setcust', node.custSwitch.classList.contains('on') ? '0' : '1');
    });
    custRow.appendChild(node.custSwitch);
    cust.appendChild(custRow);
    var monRow = row('모니터');
    node.monitor = el('span', 'grow');
    node.monitor.id = 'custMonitor';
    monRow.appendChild(node.monitor);
    cust.appendChild(monRow);
    body.appendChild(cust);
  }

  function drawQr(text) {
    node.qr.textContent = '';
    if (!text || typeof window.qrcode !== 'function') {
      node.qr.appendChild(el('div', 'door-qr-empty', text ? 'QR 을 그리지 못했습니다' : 'LAN 주소가 없습니다'));
      return;
    }
    var qr = window.qrcode(0, 'M');
    qr.addData(text);
    qr.make();
    node.qr.innerHTML = qr.createSvgTag({ cellSize: 6, margin: 2, scalable: true });
  }

  function firewallText(c) {
    if (c.fw === 1) return '열려 있습니다 (포트 ' + c.port + ')';
    if (!c.fwtool) return '방화벽 도구가 없습니다 — 따로 막고 있지 않다면 그대로 쓰면 됩니다';
    var name = c.fwtool === 'ufw' ? 'ufw' : 'firewalld';
    if (!c.fwon) return name + ' 가 꺼져 있어 막히지 않습니다';
    if (c.fw === 0) return name + ' 가 포트 ' + c.port + ' 을 막고 있습니다';
    return name + ' 의 규칙은 관리자만 볼 수 있습니다 — 태블릿이 안 붙으면 방화벽을 열어 주세요';
  }

  function render() {
    if (!cfg || !node.pill) return;
    var running = !!cfg.running;
    node.pill.className = 'pill ' + (running ? 'on' : 'off');
    node.pill.textContent = running ? '열림 · 포트 ' + cfg.port : (cfg.on ? '열리지 않음' : '닫힘');
    node.doorSwitch.classList.toggle('on', !!cfg.on);
    if (document.activeElement !== node.port) node.port.value = String(cfg.port || '');
    node.token.textContent = cfg.token || '(없음)';
    var addrs = Array.isArray(cfg.addrs) ? cfg.addrs : [];
    var links = Array.isArray(cfg.pair) ? cfg.pair : [];
    if (chosen >= links.length) chosen = 0;
    node.addrs.textContent = '';
    addrs.forEach(function (a, i) {
      var b = button(a, i === chosen ? 'primary' : '', function () { chosen = i; render(); });
      node.addrs.appendChild(b);
    });
    if (!addrs.length) node.addrs.appendChild(el('span', 'ps-hint', '이 PC 의 매장 LAN 주소를 찾지 못했습니다 — 네트워크 연결을 확인해 주세요'));
    node.link.textContent = links[chosen] || '';
    drawQr(links[chosen] || '');
    node.fw.textContent = firewallText(cfg);
    node.fwOpen.disabled = cfg.fw === 1;
    node.log.textContent = '';
    var entries = Array.isArray(cfg.log) ? cfg.log.slice().reverse() : [];
    if (!entries.length) {
      var empty = el('tr');
      empty.appendChild(el('td', 'ps-hint', '아직 접속이 없습니다'));
      node.log.appendChild(empty);
    }
    entries.forEach(function (e) {
      var tr = el('tr');
      tr.appendChild(el('td', 'at', e.at));
      tr.appendChild(el('td', 'ip', e.ip));
      tr.appendChild(el('td', 'what', e.what));
      node.log.appendChild(tr);
    });
  }

  window.setTabletCfg = function (c) {
    if (typeof c === 'string') {
      try { c = JSON.parse(c); } catch (e) { return; }
    }
    cfg = c;
    render();
  };
  window.setCustCfg = function (on, monitor, open, description) {
    if (!node.custSwitch) return;
    on = Number(on) === 1;
    node.custSwitch.classList.toggle('on', on);
    node.custPill.className = 'pill ' + (Number(open) === 1 ? 'on' : 'off');
    node.custPill.textContent = Number(open) === 1 ? '켜짐' : '꺼짐';
    node.monitor.textContent = Number(monitor) === 1 ? (description || '두 번째 모니터') : '두 번째 모니터가 없습니다 — 연결하면 바로 켜집니다';
  };

  TW.settings.add({
    id: 'door',
    title: '태블릿 · 손님 화면',
    build: build,
    show: function () {
      TW.send('gettablet');
      TW.send('getcust');
      clearInterval(refreshTimer);
      refreshTimer = setInterval(function () { if (TW.settings.isOpen()) TW.send('gettablet'); }, 5000);
    },
    hide: function () { clearInterval(refreshTimer); }
  });
})();
