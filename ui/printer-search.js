/* 프린터 찾기: the printer search of the printer set-up panel.

   The panel calls one function:

     TW.printerSearch.open(container, { target: 'r' | 'k', onSelect: function (address, label) {} })

   It fills the container with the search: a progress bar with the places
   checked out of the total, the printers found as they appear (address,
   port, name, what found them), "선택" on the ones that can print, "그만"
   to stop, and the quick list of this PC's own print queues, USB printers
   and serial ports. It starts a search at once (options.autoStart false
   leaves that to the "검색" button). Choosing a printer calls
   options.onSelect with its connection address ("tcp|192.168.0.50|9100",
   "queue|<name, percent-encoded>", "usb|<identity>",
   "com|COM1|9600|8|N|1|none|v1") and a label for it; without onSelect the
   address is saved at once with setprintlink.

   TW.printerSearch.close() stops a running search and empties the container.

   The module answers the bridge callbacks setPrinterDiscovery and
   setPrintLinks, handing them on to any the page defined before. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};

  var EVIDENCE_WORDS = {
    'TCP': '인쇄 포트 응답',
    'SNMP': '장치 정보 응답',
    'DNS-SD': '네트워크 자동 알림',
    'WSD': 'WSD 장치 알림'
  };

  var panel = null;   // the open search, or null
  var nextId = 1;

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text != null) node.textContent = String(text);
    return node;
  }

  function send() {
    if (TW.send) TW.send.apply(null, arguments);
  }

  function choose(address, label) {
    if (!panel) return;
    if (panel.options.onSelect) {
      panel.options.onSelect(address, label);
      return;
    }
    send('setprintlink', panel.target, address);
  }

  function evidenceChips(text) {
    var box = el('span', 'ps-evidence');
    String(text || '').split(' / ').forEach(function (tag) {
      if (!tag) return;
      box.appendChild(el('span', 'ps-chip', EVIDENCE_WORDS[tag] || tag));
    });
    return box;
  }

  function selectButton(address, label) {
    var button = el('button', 'btn small primary ps-select', '선택');
    button.type = 'button';
    if (panel && panel.saved === address) {
      button.textContent = '사용 중';
      button.classList.remove('primary');
    }
    button.addEventListener('click', function () { choose(address, label); });
    return button;
  }

  function renderItems(items) {
    var list = panel.nodes.list;
    list.textContent = '';
    items.forEach(function (item) {
      var row = el('li', 'ps-row' + (item.selectable ? '' : ' ps-muted'));
      var where = el('div', 'ps-where');
      where.appendChild(el('span', 'ps-addr', item.port ? item.ip + ':' + item.port : item.ip));
      where.appendChild(el('span', 'ps-name', item.name || '이름을 알 수 없는 장치'));
      row.appendChild(where);
      row.appendChild(evidenceChips(item.evidence));
      if (item.selectable) {
        var label = (item.name ? item.name + ' ' : '') + item.ip + ':' + item.port;
        row.appendChild(selectButton('tcp|' + item.ip + '|' + item.port, label));
      } else {
        row.appendChild(el('span', 'ps-why', '바로 인쇄할 포트가 없습니다'));
      }
      list.appendChild(row);
    });
  }

  function setRunning(running) {
    panel.running = running;
    panel.nodes.start.classList.toggle('hidden', running);
    panel.nodes.stop.classList.toggle('hidden', !running);
    panel.nodes.stop.disabled = false;
  }

  function onDiscovery(answer) {
    if (!panel || !answer || String(answer.id) !== String(panel.id) || answer.target !== panel.target) return;
    var checked = Number(answer.checked) || 0;
    var total = Number(answer.total) || 0;
    var percent = total > 0 ? Math.min(100, Math.round(checked * 100 / total)) : (answer.done ? 100 : 0);
    panel.nodes.bar.style.width = (answer.error ? 0 : percent) + '%';
    panel.nodes.progress.classList.toggle('hidden', !!answer.error);
    panel.nodes.count.textContent = total > 0 ? '확인한 곳 ' + checked + ' / ' + total : '';
    var items = answer.items || [];
    renderItems(items);

    var note = panel.nodes.note;
    note.className = 'ps-note';
    if (answer.error) {
      note.textContent = answer.error;
      note.classList.add('ps-error');
    } else if (!answer.done) {
      note.textContent = items.length ? '찾는 중입니다… 지금까지 ' + items.length + '곳' : 'LAN에서 프린터를 찾는 중입니다…';
    } else if (answer.cancelled) {
      note.textContent = '검색을 멈췄습니다.';
    } else if (!items.length) {
      note.textContent = '프린터를 찾지 못했습니다. 프린터 전원과 LAN 선을 확인하거나 주소를 직접 입력하세요.';
    } else {
      var printable = items.filter(function (i) { return i.selectable; }).length;
      note.textContent = '검색을 마쳤습니다. 인쇄할 수 있는 곳 ' + printable + '곳을 찾았습니다.';
    }
    if (answer.done && answer.limited && !answer.error) {
      note.textContent += ' 주소가 많아 일부만 확인했습니다.';
    }
    if (answer.done) setRunning(false);
  }

  function localRow(kind, name, detail, address, label) {
    var row = el('li', 'ps-row');
    var where = el('div', 'ps-where');
    where.appendChild(el('span', 'ps-kind', kind));
    where.appendChild(el('span', 'ps-name', name));
    if (detail) where.appendChild(el('span', 'ps-detail', detail));
    row.appendChild(where);
    row.appendChild(selectButton(address, label));
    return row;
  }

  function onLinks(links) {
    if (!panel || !links || links.target !== panel.target) return;
    panel.saved = links.saved || '';
    var list = panel.nodes.local;
    list.textContent = '';
    var details = links.queueInfo || (links.queues || []).map(function (name) { return { name: name, kind: '', uri: '' }; });
    details.forEach(function (queue) {
      var kind = queue.kind ? '인쇄 큐 · ' + queue.kind : '인쇄 큐';
      list.appendChild(localRow(kind, queue.name, queue.model || queue.uri, 'queue|' + encodeURIComponent(queue.name),
        '인쇄 큐 "' + queue.name + '"'));
    });
    (links.usb || []).forEach(function (usb) {
      list.appendChild(localRow('USB', usb.name, '', 'usb|' + usb.id, usb.name));
    });
    (links.com || []).forEach(function (com) {
      list.appendChild(localRow('직렬 포트', com.port, com.name, 'com|' + com.port + '|9600|8|N|1|none|v1', com.port));
    });
    if (!list.firstChild) list.appendChild(el('li', 'ps-empty', '이 PC에 바로 연결된 프린터가 없습니다.'));
    panel.nodes.localNote.textContent = links.queueError ? '이 PC의 인쇄 큐를 읽지 못했습니다.' : '';
  }

  function start() {
    if (!panel || panel.running) return;
    panel.id = String(nextId++);
    panel.nodes.list.textContent = '';
    panel.nodes.bar.style.width = '0%';
    panel.nodes.count.textContent = '';
    panel.nodes.progress.classList.remove('hidden');
    panel.nodes.note.className = 'ps-note';
    panel.nodes.note.textContent = 'LAN에서 프린터를 찾는 중입니다…';
    setRunning(true);
    send('discoverprinters', panel.target, panel.id);
    send('getprintlinks', panel.target);
  }

  function stop() {
    if (!panel || !panel.running) return;
    panel.nodes.stop.disabled = true;
    panel.nodes.note.textContent = '검색을 멈추는 중입니다…';
    send('cancelprinterdiscovery', panel.id);
  }

  function build(container) {
    var root = el('section', 'ps');
    var head = el('div', 'ps-head');
    head.appendChild(el('h3', 'ps-title', '프린터 찾기'));
    var startButton = el('button', 'btn primary ps-start', '검색');
    startButton.type = 'button';
    var stopButton = el('button', 'btn ps-stop hidden', '그만');
    stopButton.type = 'button';
    head.appendChild(startButton);
    head.appendChild(stopButton);
    root.appendChild(head);

    var progress = el('div', 'ps-progress');
    var track = el('div', 'ps-track');
    var bar = el('div', 'ps-bar');
    track.appendChild(bar);
    progress.appendChild(track);
    var count = el('div', 'ps-count');
    progress.appendChild(count);
    root.appendChild(progress);

    var note = el('div', 'ps-note');
    note.setAttribute('role', 'status');
    root.appendChild(note);
    var list = el('ul', 'ps-list');
    list.setAttribute('aria-live', 'polite');
    root.appendChild(list);

    root.appendChild(el('h4', 'ps-subtitle', '이 PC에 연결된 프린터'));
    var localNote = el('div', 'ps-note ps-local-note');
    root.appendChild(localNote);
    var local = el('ul', 'ps-list ps-local');
    root.appendChild(local);

    container.textContent = '';
    container.appendChild(root);
    startButton.addEventListener('click', start);
    stopButton.addEventListener('click', stop);
    return { root: root, progress: progress, start: startButton, stop: stopButton, bar: bar, count: count, note: note, list: list,
      local: local, localNote: localNote };
  }

  function chain(name, handler) {
    var before = window[name];
    window[name] = function (value) {
      handler(value);
      if (typeof before === 'function') before.apply(this, arguments);
    };
  }
  chain('setPrinterDiscovery', onDiscovery);
  chain('setPrintLinks', onLinks);

  TW.printerSearch = {
    open: function (container, options) {
      if (panel) TW.printerSearch.close();
      options = options || {};
      panel = {
        target: options.target === 'k' ? 'k' : 'r',
        options: options,
        id: '',
        saved: '',
        running: false,
        container: container,
        nodes: build(container)
      };
      if (options.autoStart === false) {
        send('getprintlinks', panel.target);
      } else {
        start();
      }
    },
    close: function () {
      if (!panel) return;
      if (panel.running) send('cancelprinterdiscovery', panel.id);
      panel.container.textContent = '';
      panel = null;
    }
  };
})();
