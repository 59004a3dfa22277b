/* The printer set-up panel of the order board (openPrinterSetup), and the
   printers' state in the board's header. The receipt printer and the
   kitchen printer each get how they are connected (none, network, serial
   port, USB, print queue), paper and spacing, and for the receipt printer
   the cash drawer and the test prints. Every change is stored at once
   through the bridge; the program answers with the settings as stored. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};

  var KINDS = [
    { key: 'none', text: '없음' },
    { key: 'tcp', text: '네트워크' },
    { key: 'com', text: '직렬 포트' },
    { key: 'usb', text: 'USB' },
    { key: 'queue', text: '인쇄 큐' }
  ];
  var BAUDS = ['9600', '19200', '38400', '57600', '115200'];
  // The kitchen ticket's look: key, label, and the choices in order.
  var STYLE = [
    { key: 'when', label: '인쇄 시점', choices: ['주문 접수 때', '결제 끝난 뒤'] },
    { key: 'font', label: '기본 글씨', choices: ['작게', '보통', '크게', '아주 크게'] },
    { key: 'top', label: '위 여백', choices: ['없음', '보통', '넓게'] },
    { key: 'bottom', label: '아래 여백', choices: ['없음', '보통', '넓게'] },
    { key: 'order', label: '메뉴 순서', choices: ['주문 순서', '메뉴판 순서'] },
    { key: 'lsp', label: '줄 간격', choices: ['좁게', '보통', '넓게'] },
    { key: 'szname', label: '메뉴 이름 크기', choices: ['보통', '크게', '아주 크게'] },
    { key: 'bname', label: '메뉴 이름 굵게', choices: ['아니오', '예'] },
    { key: 'szopt', label: '옵션 크기', choices: ['보통', '크게', '아주 크게'] },
    { key: 'bopt', label: '옵션 굵게', choices: ['아니오', '예'] },
    { key: 'szno', label: '주문 번호 크기', choices: ['보통', '크게', '아주 크게'] },
    { key: 'bno', label: '주문 번호 굵게', choices: ['아니오', '예'] },
    { key: 'sztotal', label: '합계 크기', choices: ['보통', '크게', '아주 크게'] },
    { key: 'btotal', label: '합계 굵게', choices: ['아니오', '예'] },
    { key: 'szmemo', label: '요청 사항 크기', choices: ['보통', '크게', '아주 크게'] },
    { key: 'bmemo', label: '요청 사항 굵게', choices: ['아니오', '예'] }
  ];

  var target = 'r';          // the printer on show: 'r' receipt, 'k' kitchen
  var links = { r: null, k: null };
  var kitchen = null;        // the last setKitchenCfg
  var health = null;         // the last setPrinterHealth
  var chosenKind = { r: null, k: null };
  var picked = { r: null, k: null };   // a connection chosen in 프린터 찾기, not saved yet

  function el(tag, cls, text) {
    var n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text !== undefined && text !== null) n.textContent = String(text);
    return n;
  }
  function button(cls, text, onClick) {
    var b = el('button', cls, text);
    b.type = 'button';
    if (onClick) b.addEventListener('click', onClick);
    return b;
  }
  function num(value, fallback) {
    var n = parseInt(value, 10);
    return isNaN(n) ? fallback : n;
  }
  function panel() { return TW.byId('printerSetup'); }

  // A row of choices where one is on; pick(value) is called on a press.
  function segmented(id, choices, pick) {
    var box = el('div', 'prn-seg');
    box.id = id;
    choices.forEach(function (c) {
      var b = button('prn-seg-btn', c.text, function () { pick(c.key); });
      b.setAttribute('data-value', c.key);
      box.appendChild(b);
    });
    return box;
  }
  function setSegment(id, value) {
    var box = TW.byId(id);
    if (!box) return;
    Array.prototype.forEach.call(box.children, function (b) {
      var on = b.getAttribute('data-value') === String(value);
      b.classList.toggle('on', on);
      b.setAttribute('aria-pressed', on ? 'true' : 'false');
    });
  }
  function field(label, control, hint) {
    var f = el('label', 'prn-field');
    f.appendChild(el('span', 'prn-label', label));
    f.appendChild(control);
    if (hint) f.appendChild(el('span', 'prn-hint', hint));
    return f;
  }
  function select(id, options, onChange) {
    var s = el('select', 'prn-select');
    s.id = id;
    options.forEach(function (o) {
      var opt = el('option', null, o.text);
      opt.value = o.value;
      s.appendChild(opt);
    });
    if (onChange) s.addEventListener('change', function () { onChange(s.value); });
    return s;
  }
  function input(id, placeholder, mode) {
    var i = el('input', 'prn-input');
    i.id = id;
    i.type = 'text';
    i.autocomplete = 'off';
    i.spellcheck = false;
    if (mode) i.inputMode = mode;
    if (placeholder) i.placeholder = placeholder;
    return i;
  }
  function toggle(id, text, onChange) {
    var wrap = el('label', 'prn-toggle');
    var box = el('input');
    box.type = 'checkbox';
    box.id = id;
    box.addEventListener('change', function () { onChange(box.checked); });
    wrap.appendChild(box);
    wrap.appendChild(el('span', 'prn-switch'));
    wrap.appendChild(el('span', null, text));
    return wrap;
  }
  function setValue(id, value) {
    var n = TW.byId(id);
    if (!n || document.activeElement === n) return;
    if (n.type === 'checkbox') n.checked = !!value;
    else n.value = value == null ? '' : String(value);
  }
  function fillSelect(id, options, keep) {
    var s = TW.byId(id);
    if (!s) return;
    var old = keep !== undefined ? keep : s.value;
    s.textContent = '';
    options.forEach(function (o) {
      var opt = el('option', null, o.text);
      opt.value = o.value;
      s.appendChild(opt);
    });
    if (old !== undefined && old !== null) s.value = old;
    if (s.selectedIndex < 0 && s.options.length) s.selectedIndex = 0;
  }

  function build() {
    var sheet = el('div', 'sheet prn-sheet hidden');
    sheet.id = 'printerSetup';
    sheet.setAttribute('role', 'dialog');
    sheet.setAttribute('aria-modal', 'true');
    sheet.setAttribute('aria-labelledby', 'prnTitle');
    var card = el('div', 'prn-card');
    sheet.appendChild(card);

    var head = el('div', 'prn-head');
    var title = el('h2', null, '프린터 설정');
    title.id = 'prnTitle';
    head.appendChild(title);
    head.appendChild(button('btn small', '닫기', close));
    card.appendChild(head);

    var tabs = el('div', 'prn-tabs');
    tabs.setAttribute('role', 'tablist');
    [['r', '영수증 프린터'], ['k', '주방 프린터']].forEach(function (t) {
      var b = button('prn-tab', t[1], function () { show(t[0]); });
      b.setAttribute('data-target', t[0]);
      b.setAttribute('role', 'tab');
      tabs.appendChild(b);
    });
    card.appendChild(tabs);

    var body = el('div', 'prn-body');
    card.appendChild(body);

    // Now: how it is connected and how it is.
    var now = el('div', 'prn-now');
    var nowText = el('div', 'prn-now-text');
    nowText.appendChild(el('span', 'prn-now-label', '지금 연결'));
    var via = el('b', 'prn-via', '-');
    via.id = 'prnVia';
    nowText.appendChild(via);
    now.appendChild(nowText);
    var state = el('span', 'pill prn-state', '상태 확인 중');
    state.id = 'prnState';
    now.appendChild(state);
    now.appendChild(button('btn small', '상태 확인', function () { TW.send('printerstatus'); }));
    body.appendChild(now);

    // The connection.
    var link = el('section', 'prn-group');
    link.appendChild(el('h3', null, '연결 방식'));
    var kinds = segmented('prnKind', KINDS.concat([{ key: 'inherit', text: '영수증 프린터와 같음' }]), function (k) {
      picked[target] = null;
      chosenKind[target] = k;
      showKind(k);
    });
    link.appendChild(kinds);
    var fields = el('div', 'prn-kind-fields');

    var tcp = el('div', 'prn-grid');
    tcp.setAttribute('data-kind', 'tcp');
    tcp.appendChild(field('IP 주소', input('prnIp', '192.168.0.50', 'decimal')));
    tcp.appendChild(field('포트', input('prnPort', '9100', 'numeric'), '보통 9100'));
    fields.appendChild(tcp);

    var com = el('div', 'prn-grid');
    com.setAttribute('data-kind', 'com');
    com.appendChild(field('포트', select('prnComPort', [])));
    com.appendChild(field('속도', select('prnBaud', BAUDS.map(function (b) { return { value: b, text: b + ' bps' }; }))));
    com.appendChild(field('데이터 비트', select('prnBits', [{ value: '8', text: '8' }, { value: '7', text: '7' }])));
    com.appendChild(field('패리티', select('prnParity', [{ value: 'N', text: '없음' }, { value: 'E', text: '짝수' }, { value: 'O', text: '홀수' }])));
    com.appendChild(field('정지 비트', select('prnStop', [{ value: '1', text: '1' }, { value: '2', text: '2' }])));
    com.appendChild(field('흐름 제어', select('prnFlow', [{ value: 'none', text: '없음' }, { value: 'rtscts', text: 'RTS/CTS' }, { value: 'xonxoff', text: 'XON/XOFF' }])));
    fields.appendChild(com);

    var usb = el('div', 'prn-grid');
    usb.setAttribute('data-kind', 'usb');
    usb.appendChild(field('USB 프린터', select('prnUsb', [])));
    fields.appendChild(usb);

    var queue = el('div', 'prn-grid');
    queue.setAttribute('data-kind', 'queue');
    queue.appendChild(field('인쇄 큐', select('prnQueue', [])));
    fields.appendChild(queue);

    var none = el('p', 'prn-note', '영수증·주문표를 인쇄하지 않습니다. 현금서랍도 열리지 않습니다.');
    none.setAttribute('data-kind', 'none');
    fields.appendChild(none);
    var same = el('p', 'prn-note', '영수증 프린터로 주문표를 인쇄합니다.');
    same.setAttribute('data-kind', 'inherit');
    fields.appendChild(same);
    link.appendChild(fields);

    var linkFoot = el('div', 'prn-row');
    var linkError = el('span', 'prn-error hidden');
    linkError.id = 'prnLinkError';
    linkFoot.appendChild(linkError);
    var refresh = button('btn small', '목록 새로 고침', function () { TW.send('getprintlinks', target); });
    linkFoot.appendChild(refresh);
    var find = button('btn small', '프린터 찾기', toggleSearch);
    find.id = 'prnFind';
    linkFoot.appendChild(find);
    var save = button('btn primary', '연결 저장', saveLink);
    save.id = 'prnSaveLink';
    linkFoot.appendChild(save);
    link.appendChild(linkFoot);
    var search = el('div', 'prn-search hidden');
    search.id = 'prnSearch';
    link.appendChild(search);
    body.appendChild(link);

    // Paper.
    var paper = el('section', 'prn-group');
    paper.appendChild(el('h3', null, '용지'));
    var paperGrid = el('div', 'prn-grid');
    paperGrid.appendChild(field('용지 폭', segmented('prnWidth', [{ key: '80', text: '80mm' }, { key: '58', text: '58mm' }], function (w) {
      setCfg(target === 'r' ? 'width' : 'kwidth', w);
    })));
    paperGrid.appendChild(field('한 줄 글자 수', select('prnCols', [], function (v) { setCfg(target === 'r' ? 'cols' : 'kcols', v); })));
    var spacing = input('prnSpacing', '0', 'numeric');
    spacing.addEventListener('change', function () { setCfg('linespacing', spacing.value.trim()); });
    var spacingField = field('줄 간격', spacing, '0 은 프린터 기본값, 견본에서 고른 숫자');
    spacingField.classList.add('prn-receipt-only');
    paperGrid.appendChild(spacingField);
    var gap = input('prnBigGap', '10', 'numeric');
    gap.addEventListener('change', function () { setCfg('biggap', gap.value.trim()); });
    var gapField = field('큰 글씨 뒤 간격', gap, '0~100');
    gapField.classList.add('prn-receipt-only');
    paperGrid.appendChild(gapField);
    paper.appendChild(paperGrid);
    var paperToggles = el('div', 'prn-toggles');
    paperToggles.appendChild(toggle('prnCut', '인쇄 뒤 용지 자르기', function (on) { setCfg(target === 'r' ? 'cut' : 'kcut', on ? '1' : '0'); }));
    var cancelReceipt = toggle('prnCancelReceipt', '주문 취소 때 취소 영수증 인쇄', function (on) { setCfg('cancelreceipt', on ? '1' : '0'); });
    cancelReceipt.classList.add('prn-receipt-only');
    paperToggles.appendChild(cancelReceipt);
    var autoPrint = toggle('prnAuto', '새 주문 주문표 자동 인쇄', function (on) { setCfg('kauto', on ? '1' : '0'); });
    autoPrint.classList.add('prn-kitchen-only');
    paperToggles.appendChild(autoPrint);
    paper.appendChild(paperToggles);
    body.appendChild(paper);

    // The cash drawer, on the receipt printer.
    var drawer = el('section', 'prn-group prn-receipt-only');
    drawer.appendChild(el('h3', null, '현금서랍'));
    var drawerRow = el('div', 'prn-grid');
    drawerRow.appendChild(toggle('prnDrawer', '현금 결제 때 서랍 열기', function (on) { setCfg('enable', on ? '1' : '0'); }));
    drawerRow.appendChild(field('서랍 핀', segmented('prnPin', [{ key: '2', text: '2번 핀' }, { key: '5', text: '5번 핀' }], function (p) { setCfg('pin', p); })));
    drawer.appendChild(drawerRow);
    body.appendChild(drawer);

    // The kitchen ticket's look.
    var look = el('section', 'prn-group prn-kitchen-only');
    look.appendChild(el('h3', null, '주문표 모양'));
    var lookGrid = el('div', 'prn-grid prn-style');
    STYLE.forEach(function (s) {
      var options = s.choices.map(function (text, i) { return { value: String(i), text: text }; });
      lookGrid.appendChild(field(s.label, select('prnStyle-' + s.key, options, function (v) {
        TW.send('setkitchencfg', s.key + '=' + encodeURIComponent(v));
      })));
    });
    look.appendChild(lookGrid);
    body.appendChild(look);

    // Test prints, on the receipt printer.
    var prints = el('section', 'prn-group prn-receipt-only');
    prints.appendChild(el('h3', null, '시험 인쇄'));
    var printRow = el('div', 'prn-row prn-prints');
    printRow.appendChild(button('btn', '시험 인쇄', function () { TW.send('printtest'); }));
    printRow.appendChild(button('btn', '눈금 인쇄', function () { TW.send('printruler'); }));
    printRow.appendChild(button('btn', '줄간격 견본', function () { TW.send('printspacing'); }));
    prints.appendChild(printRow);
    body.appendChild(prints);

    sheet.addEventListener('click', function (e) { if (e.target === sheet) close(); });
    document.body.appendChild(sheet);
  }

  // 프린터 찾기: the search of the LAN and of this PC, in the connection
  // group. It opens with this PC's printers; the LAN search starts on its
  // 검색 button. A printer chosen there fills the connection fields, which
  // 연결 저장 then stores.
  function closeSearch() {
    if (TW.printerSearch) TW.printerSearch.close();
    TW.show('prnSearch', false);
  }
  function toggleSearch() {
    var box = TW.byId('prnSearch');
    if (!TW.printerSearch || !box) return;
    if (!box.classList.contains('hidden')) {
      closeSearch();
      return;
    }
    box.classList.remove('hidden');
    var searching = target;
    TW.printerSearch.open(box, {
      target: searching,
      autoStart: false,
      onSelect: function (address) {
        if (target !== searching) return;
        closeSearch();
        fillLink(address);
      }
    });
  }
  // Puts a connection address into the fields, adding the port, printer or
  // queue to its list when the list does not have it yet.
  function ensureOption(id, value, text) {
    var s = TW.byId(id);
    if (!Array.prototype.some.call(s.options, function (o) { return o.value === value; })) {
      var o = el('option', null, text);
      o.value = value;
      s.appendChild(o);
    }
    s.value = value;
  }
  function fillLink(address) {
    picked[target] = address;
    linkError('');
    applyLink(address);
    TW.toast('고른 프린터를 넣었습니다. 연결 저장을 눌러 주세요');
    var save = TW.byId('prnSaveLink');
    if (save) save.focus();
  }
  function applyLink(address) {
    var link = parseLink(address, '', target);
    chosenKind[target] = link.kind;
    if (link.kind === 'tcp') {
      TW.byId('prnIp').value = link.ip || '';
      TW.byId('prnPort').value = link.port || '9100';
    } else if (link.kind === 'com') {
      ensureOption('prnComPort', link.port, link.port);
      TW.byId('prnBaud').value = link.baud || '9600';
      TW.byId('prnBits').value = link.bits || '8';
      TW.byId('prnParity').value = link.parity || 'N';
      TW.byId('prnStop').value = link.stop || '1';
      TW.byId('prnFlow').value = link.flow || 'none';
    } else if (link.kind === 'usb') {
      ensureOption('prnUsb', link.id, link.id.slice(0, 8));
    } else if (link.kind === 'queue') {
      ensureOption('prnQueue', link.queue, link.queue);
    }
    showKind(link.kind);
  }

  function show(which) {
    closeSearch();
    target = which;
    var p = panel();
    Array.prototype.forEach.call(p.querySelectorAll('.prn-tab'), function (b) {
      var on = b.getAttribute('data-target') === which;
      b.classList.toggle('active', on);
      b.setAttribute('aria-selected', on ? 'true' : 'false');
    });
    p.classList.toggle('prn-kitchen', which === 'k');
    var inherit = TW.byId('prnKind').querySelector('[data-value="inherit"]');
    if (inherit) inherit.classList.toggle('hidden', which !== 'k');
    TW.show('prnLinkError', false);
    render();
    TW.send('getprintlinks', which);
  }

  function open() {
    if (!panel()) build();
    TW.show('prnFind', !!TW.printerSearch);
    TW.show('printerSetup', true);
    show(target);
    TW.send('getprintcfg');
    TW.send('getkitchencfg');
    TW.send('printerstatus');
  }
  function close() {
    closeSearch();
    TW.show('printerSetup', false);
  }

  function setCfg(key, value) { TW.send('setprintcfg', key, String(value)); }

  // The saved connection text as the kind and its fields. Without an
  // address the receipt printer is the queue named in the settings (or the
  // first USB printer), and the kitchen printer is the receipt printer.
  function parseLink(saved, name, which) {
    var parts = String(saved || '').split('|');
    var kind = parts[0];
    if (kind === '' || kind === 'legacy') {
      if (name) return { kind: 'queue', queue: name };
      return { kind: which === 'k' ? 'inherit' : 'usb' };
    }
    if (kind === 'tcp') return { kind: 'tcp', ip: parts[1], port: parts[2] };
    if (kind === 'com') return { kind: 'com', port: parts[1], baud: parts[2], bits: parts[3], parity: parts[4], stop: parts[5], flow: parts[6] };
    if (kind === 'usb') return { kind: 'usb', id: (parts[1] || '').toLowerCase() };
    if (kind === 'queue') {
      var decoded = '';
      try { decoded = decodeURIComponent(parts.slice(1).join('|')); } catch (e) { decoded = ''; }
      return { kind: 'queue', queue: decoded };
    }
    if (kind === 'none' || kind === 'inherit') return { kind: kind };
    return { kind: 'tcp' };
  }

  function isIpv4(text) {
    var parts = String(text).split('.');
    if (parts.length !== 4) return false;
    for (var i = 0; i < 4; i++) {
      if (!/^(0|[1-9][0-9]{0,2})$/.test(parts[i])) return false;
      var n = parseInt(parts[i], 10);
      if (n > 255 || (i === 0 && (n < 1 || n > 223))) return false;
    }
    return true;
  }

  function linkError(text) {
    TW.setText('prnLinkError', text);
    TW.show('prnLinkError', !!text);
  }

  // The connection the fields describe, or null with the reason shown.
  function composeLink() {
    var kind = chosenKind[target];
    if (kind === 'none' || kind === 'inherit') return kind;
    if (kind === 'tcp') {
      var ip = TW.byId('prnIp').value.trim();
      var port = TW.byId('prnPort').value.trim() || '9100';
      if (!isIpv4(ip)) { linkError('IP 주소를 확인해 주세요 (예: 192.168.0.50)'); return null; }
      if (!/^[1-9][0-9]{0,4}$/.test(port) || parseInt(port, 10) > 65535) { linkError('포트는 1~65535 사이의 숫자입니다'); return null; }
      return 'tcp|' + ip + '|' + port;
    }
    if (kind === 'com') {
      var comPort = TW.byId('prnComPort').value;
      if (!comPort) { linkError('이 PC 에서 찾은 직렬 포트가 없습니다'); return null; }
      return ['com', comPort, TW.byId('prnBaud').value, TW.byId('prnBits').value, TW.byId('prnParity').value,
        TW.byId('prnStop').value, TW.byId('prnFlow').value, 'v1'].join('|');
    }
    if (kind === 'usb') {
      var id = TW.byId('prnUsb').value;
      if (!id) { linkError('이 PC 에 연결된 USB 프린터를 찾지 못했습니다'); return null; }
      return 'usb|' + id;
    }
    if (kind === 'queue') {
      var name = TW.byId('prnQueue').value;
      if (!name) { linkError('고를 인쇄 큐가 없습니다'); return null; }
      return 'queue|' + encodeURIComponent(name);
    }
    return null;
  }

  function saveLink() {
    linkError('');
    var text = composeLink();
    if (text) TW.send('setprintlink', target, text);
  }

  function showKind(kind) {
    setSegment('prnKind', kind);
    Array.prototype.forEach.call(panel().querySelectorAll('.prn-kind-fields > [data-kind]'), function (n) {
      n.classList.toggle('hidden', n.getAttribute('data-kind') !== kind);
    });
  }

  function colsOptions(auto) {
    var options = [{ value: '0', text: '자동 (' + auto + '글자)' }];
    for (var c = 20; c <= 96; c += 2) options.push({ value: String(c), text: c + '글자' });
    return options;
  }

  function renderLinks() {
    var info = links[target];
    if (!info) return;
    fillSelect('prnQueue', (info.queues || []).map(function (q) { return { value: q, text: q }; }));
    fillSelect('prnUsb', (info.usb || []).map(function (u) { return { value: u.id, text: u.name + ' · ' + u.id.slice(0, 8) }; }));
    fillSelect('prnComPort', (info.com || []).map(function (c) { return { value: c.port, text: c.port + ' · ' + c.name }; }));
    TW.setText('prnVia', info.description || '-');
    if (picked[target]) {
      applyLink(picked[target]);
      return;
    }
    var cfg = TW.printCfg || {};
    var saved = parseLink(info.saved, target === 'r' ? cfg.name : (kitchen ? kitchen.name : ''), target);
    if (!chosenKind[target]) chosenKind[target] = saved.kind;
    if (saved.kind === 'tcp') { setValue('prnIp', saved.ip || ''); setValue('prnPort', saved.port || '9100'); }
    if (saved.kind === 'com') {
      if (saved.port && !Array.prototype.some.call(TW.byId('prnComPort').options, function (o) { return o.value === saved.port; })) {
        var keep = el('option', null, saved.port + ' · 지금 없음');
        keep.value = saved.port;
        TW.byId('prnComPort').appendChild(keep);
      }
      setValue('prnComPort', saved.port); setValue('prnBaud', saved.baud); setValue('prnBits', saved.bits);
      setValue('prnParity', saved.parity); setValue('prnStop', saved.stop); setValue('prnFlow', saved.flow);
    }
    if (saved.kind === 'usb' && saved.id) setValue('prnUsb', saved.id);
    if (saved.kind === 'queue' && saved.queue) setValue('prnQueue', saved.queue);
    showKind(chosenKind[target]);
  }

  function renderState() {
    var box = TW.byId('prnState');
    if (!box || !health) return;
    var h = target === 'r' ? health.receipt : health.kitchen;
    if (!h) return;
    box.textContent = h.text;
    box.className = 'pill prn-state prn-state-' + h.state;
  }

  function render() {
    var p = panel();
    if (!p) return;
    var cfg = TW.printCfg;
    if (cfg) {
      var receipt = target === 'r';
      var width = receipt ? cfg.width : cfg.kwidth;
      setSegment('prnWidth', width);
      fillSelect('prnCols', colsOptions(receipt ? cfg.colsauto : cfg.kcolsauto), String(receipt ? cfg.cols : cfg.kcols));
      setValue('prnSpacing', cfg.linespacing);
      setValue('prnBigGap', cfg.biggap);
      setValue('prnCut', num(receipt ? cfg.cut : (kitchen && kitchen.cut !== undefined ? kitchen.cut : cfg.cut), 1) !== 0);
      setValue('prnCancelReceipt', num(cfg.cancelreceipt, 1) === 1);
      setValue('prnDrawer', num(cfg.drawer, 1) !== 0);
      setSegment('prnPin', cfg.pin);
      setValue('prnAuto', num(cfg.kauto, 0) === 1);
      TW.setText('prnVia', receipt ? cfg.via : cfg.kvia);
    }
    if (kitchen) STYLE.forEach(function (s) { setValue('prnStyle-' + s.key, kitchen[s.key]); });
    renderLinks();
    renderState();
  }

  // The board's header: one pill per printer (one only when the kitchen
  // prints on the receipt printer).
  function renderHeader() {
    var box = TW.byId('printerHealth');
    if (!box || !health) return;
    box.textContent = '';
    function pill(name, h) {
      var b = button('pill printer-pill prn-state-' + h.state, null, open);
      b.title = name + ' 프린터: ' + h.text + (h.via ? ' (' + h.via + ')' : '');
      b.appendChild(el('span', 'dot'));
      b.appendChild(el('span', 'printer-pill-name', name));
      b.appendChild(el('span', 'printer-pill-state', h.text));
      b.setAttribute('data-printer', name === '영수증' ? 'r' : 'k');
      box.appendChild(b);
    }
    if (health.receipt) pill(health.kitchen && health.kitchen.same ? '프린터' : '영수증', health.receipt);
    if (health.kitchen && !health.kitchen.same) pill('주방', health.kitchen);
  }

  window.openPrinterSetup = open;

  window.setPrintCfg = function (cfg) {
    TW.printCfg = cfg || {};
    if (TW.onPrintCfg) TW.onPrintCfg(TW.printCfg);
    render();
  };
  window.setKitchenCfg = function (cfg) {
    kitchen = cfg || {};
    render();
  };
  window.setPrintLinks = function (info) {
    if (!info) return;
    var which = info.target === 'k' ? 'k' : 'r';
    links[which] = info;
    if (which === target) renderLinks();
  };
  window.printLinkSaved = function (ok) {
    var saved = ok === true || ok === 'true';
    if (saved) {
      picked[target] = null;
      TW.toast('연결을 저장했습니다');
      TW.send('getprintlinks', target);
      TW.send('printerstatus');
    } else {
      linkError('연결 설정이 올바르지 않습니다');
    }
  };
  window.setPrinterHealth = function (h) {
    health = h || null;
    renderHeader();
    renderState();
    renderSettingsSummary();
  };
  var previousResult = window.setPrintLinkResult;
  window.setPrintLinkResult = function (ok, message) {
    if (previousResult) previousResult(ok, message);
    TW.send('printerstatus');
  };

  document.addEventListener('keydown', function (e) {
    var p = panel();
    if (e.key === 'Escape' && p && !p.classList.contains('hidden')) close();
  });
  var openButton = TW.byId('printerBtn');
  if (openButton) openButton.addEventListener('click', open);

  // The POS settings panel gets a printer section that leads here.
  var settingsSummary = null;
  function renderSettingsSummary() {
    if (!settingsSummary || !health) return;
    settingsSummary.textContent = '';
    [['영수증 프린터', health.receipt], ['주방 프린터', health.kitchen]].forEach(function (row) {
      if (!row[1]) return;
      var line = el('div', 'prn-summary-line');
      line.appendChild(el('span', 'prn-summary-name', row[0]));
      line.appendChild(el('span', 'pill prn-state-' + row[1].state, row[1].text));
      line.appendChild(el('span', 'prn-summary-via', row[1].via || ''));
      settingsSummary.appendChild(line);
    });
  }
  document.addEventListener('DOMContentLoaded', function () {
    if (!TW.settings || !TW.settings.add) return;
    TW.settings.add({
      id: 'printer',
      title: '프린터',
      build: function (body) {
        body.appendChild(el('h3', null, '영수증·주방 프린터'));
        settingsSummary = el('div', 'prn-summary');
        body.appendChild(settingsSummary);
        body.appendChild(button('btn primary', '프린터 설정 열기', function () {
          TW.settings.close();
          open();
        }));
        renderSettingsSummary();
      },
      show: function () { TW.send('printerstatus'); }
    });
  });

  // The printers are asked for their state now and then, and after every job.
  TW.send('printerstatus');
  setInterval(function () { TW.send('printerstatus'); }, 60000);
})();
