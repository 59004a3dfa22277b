/* The staff lock in the POS settings panel: who may open the cash drawer and
   change orders on this PC, the store's cancellation rule on the server, the
   PIN, and the store's and the owner's passwords. Answers arrive as setLock,
   storePwDone and ownerPwDone; only a signed-in owner may change anything. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};
  if (!TW.settings) return;
  var el = TW.settings.el;
  var node = {};
  var lock = null;

  var MODES = ['누구나 엽니다', '직원은 PIN', '사장님만'];
  var POLICIES = ['사장님만', '직원은 PIN', '당일 것만 직원도', '직원도 허용'];

  function button(text, cls, onClick, id) {
    var b = el('button', 'btn small' + (cls ? ' ' + cls : ''), text);
    b.type = 'button';
    if (id) b.id = id;
    b.addEventListener('click', onClick);
    return b;
  }
  function row(label) {
    var r = el('div', 'ps-row');
    if (label) r.appendChild(el('span', 'ps-label', label));
    return r;
  }
  function input(id, type, placeholder) {
    var i = el('input', 'ps-input');
    i.id = id;
    i.type = type || 'text';
    if (placeholder) i.placeholder = placeholder;
    return i;
  }
  function choices(id, names, onPick) {
    var box = el('div', 'lock-choices');
    box.id = id;
    names.forEach(function (name, i) {
      var b = button(name, '', function () { onPick(i); });
      b.setAttribute('data-value', String(i));
      box.appendChild(b);
    });
    return box;
  }
  function mark(box, value) {
    Array.prototype.forEach.call(box.querySelectorAll('button'), function (b) {
      b.classList.toggle('primary', Number(b.getAttribute('data-value')) === value);
    });
  }

  function build(body) {
    var local = el('div', 'ps-group');
    local.appendChild(el('h3', '', '현금서랍과 주문 고치기 (이 PC)'));
    node.owner = el('div', 'ps-hint');
    node.owner.id = 'lockOwnerHint';
    local.appendChild(node.owner);
    var modeRow = row('누가 여나요');
    node.modes = choices('lockModes', MODES, function (i) { TW.send('setlock', String(i), ''); });
    modeRow.appendChild(node.modes);
    local.appendChild(modeRow);
    var pinRow = row('PIN 정하기');
    node.pin = input('lockPin', 'password', '숫자 4~6자리');
    node.pin.inputMode = 'numeric';
    node.pin.maxLength = 6;
    pinRow.appendChild(node.pin);
    pinRow.appendChild(button('PIN 정하기', 'primary', function () {
      TW.send('setpin', node.pin.value);
      node.pin.value = '';
    }, 'lockPinSave'));
    node.pinState = el('span', 'ps-hint');
    node.pinState.id = 'lockPinState';
    pinRow.appendChild(node.pinState);
    local.appendChild(pinRow);
    body.appendChild(local);

    var server = el('div', 'ps-group');
    server.appendChild(el('h3', '', '결제 취소 (매장 전체)'));
    var policyRow = row('누가 취소하나요');
    node.policies = choices('lockPolicies', POLICIES, function (i) { TW.send('setcancelpolicy', String(i), ''); });
    policyRow.appendChild(node.policies);
    server.appendChild(policyRow);
    node.policyState = el('div', 'ps-hint');
    node.policyState.id = 'lockPolicyState';
    server.appendChild(node.policyState);
    body.appendChild(server);

    var pw = el('div', 'ps-group');
    pw.appendChild(el('h3', '', '비밀번호'));
    var storeRow = row('매장(직원) 비밀번호');
    node.storeOwner = input('storePwOwner', 'password', '사장님 비밀번호');
    node.storeNew = input('storePwNew', 'password', '새 비밀번호 4~20자');
    storeRow.appendChild(node.storeOwner);
    storeRow.appendChild(node.storeNew);
    storeRow.appendChild(button('바꾸기', '', function () { TW.send('setstorepw', node.storeOwner.value, node.storeNew.value); }, 'storePwSave'));
    pw.appendChild(storeRow);
    var ownerRow = row('사장님 비밀번호');
    node.ownerOld = input('ownerPwOld', 'password', '지금 비밀번호');
    node.ownerNew = input('ownerPwNew', 'password', '새 비밀번호 8~30자');
    ownerRow.appendChild(node.ownerOld);
    ownerRow.appendChild(node.ownerNew);
    ownerRow.appendChild(button('바꾸기', '', function () { TW.send('setownerpw', node.ownerOld.value, node.ownerNew.value); }, 'ownerPwSave'));
    pw.appendChild(ownerRow);
    pw.appendChild(el('div', 'ps-hint', '새 사장님 비밀번호에는 영문, 숫자, 기호(~!@#$^*()_-[]{};:|,./?)를 하나씩 이상 넣으세요.'));
    body.appendChild(pw);
  }

  function show() {
    TW.send('getlock');
  }

  window.setLock = function (state) {
    lock = typeof state === 'string' ? JSON.parse(state) : state;
    if (!node.modes || !lock) return;
    mark(node.modes, lock.mode);
    mark(node.policies, lock.policy);
    var owner = !!lock.owner;
    node.owner.textContent = owner ? '사장님으로 로그인되어 있어 바꿀 수 있습니다.' : '바꾸려면 사장님(가맹점)으로 로그인하세요.';
    node.pinState.textContent = lock.haspin ? '이 PC 에 PIN 이 있습니다' : 'PIN 이 없습니다';
    node.policyState.textContent = lock.policy < 0 ? '서버에서 취소 규칙을 읽지 못했습니다'
      : '지금: ' + POLICIES[lock.policy] + (lock.spin ? ' · 서버에 PIN 이 있습니다' : '');
    Array.prototype.forEach.call(document.querySelectorAll('.ps-section[data-section="lock"] button, .ps-section[data-section="lock"] input'), function (n) {
      n.disabled = !owner;
    });
  };
  window.storePwDone = function (ok) { if (Number(ok) && node.storeNew) { node.storeOwner.value = ''; node.storeNew.value = ''; } };
  window.ownerPwDone = function (ok) { if (Number(ok) && node.ownerNew) { node.ownerOld.value = ''; node.ownerNew.value = ''; } };

  TW.settings.add({ id: 'lock', title: '직원 잠금', build: build, show: show });
})();
