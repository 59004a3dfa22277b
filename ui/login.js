/* The sign-in page: staff ("pos") and owner ("merch") sign-in. */
(function () {
  'use strict';
  var TW = window.TW;
  var mode = 'pos';
  var busy = false;
  var form = TW.byId('loginForm');
  var idInput = TW.byId('userId');
  var pwInput = TW.byId('userPw');
  var remember = TW.byId('rememberId');

  function setBusy(on) {
    busy = !!on;
    TW.byId('loginBtn').disabled = busy || TW.serviceBlocked || TW.updateBlocksLogin(TW.updateState || '');
    TW.show('loginSpinner', busy);
    TW.setText('loginLabel', busy ? '로그인 중…' : '로그인');
    idInput.disabled = busy;
    pwInput.disabled = busy;
  }

  function showError(text) {
    var node = TW.byId('loginError');
    node.textContent = text || '';
    node.classList.toggle('hidden', !text);
  }

  function applyMode(next) {
    mode = next === 'merch' ? 'merch' : 'pos';
    TW.byId('tabPos').classList.toggle('active', mode === 'pos');
    TW.byId('tabMerch').classList.toggle('active', mode === 'merch');
    TW.setText('modeHint', mode === 'merch' ? '가맹점(사장님) 계정으로 로그인해 매장 관리 화면을 엽니다.'
                                          : '매장 POS 계정으로 로그인합니다.');
    showError('');
  }

  // Callbacks of the sign-in commands.
  window.setLoginMode = function (next) { applyMode(next); };
  window.setSavedId = function (id) {
    id = id == null ? '' : String(id);
    idInput.value = id;
    remember.checked = id !== '';
    (id ? pwInput : idInput).focus();
  };
  window.setLoginBusy = function (on) { setBusy(Number(on) === 1); };
  window.setLoginError = function (text) {
    setBusy(false);
    showError(text || '로그인하지 못했습니다');
    pwInput.value = '';
    pwInput.focus();
  };
  window.setMerchError = function (text) {
    setBusy(false);
    showError(text || '가맹점 로그인에 실패했습니다');
    pwInput.value = '';
    pwInput.focus();
  };
  window.setMerchState = function (signedIn, storeIdx, name) {
    setBusy(false);
    if (Number(signedIn) === 1) {
      showError('');
      pwInput.value = '';
      TW.toast((name ? name + ' 님, ' : '') + '가맹점 로그인 완료');
    }
  };
  TW.onUpdateState = function () { setBusy(busy); };
  TW.onServiceBlock = function () { setBusy(busy); };

  function submit(event) {
    if (event) event.preventDefault();
    if (busy) return;
    var id = idInput.value.trim();
    var pw = pwInput.value;
    if (!id || !pw) {
      showError(mode === 'merch' ? '아이디와 비밀번호를 입력하십시오' : '아이디와 비밀번호를 입력하세요');
      (id ? pwInput : idInput).focus();
      return;
    }
    if (id.indexOf('</>') >= 0 || pw.indexOf('</>') >= 0 || (mode === 'pos' && (/[&=]/.test(id) || /[&=]/.test(pw)))) {
      showError('아이디·비밀번호에 & 또는 = 는 쓸 수 없습니다');
      return;
    }
    showError('');
    setBusy(true);
    var sent = mode === 'merch' ? TW.send('merchlogin', id, pw, 'go')
                                : TW.send('login', id, pw, remember.checked ? '1' : '0');
    if (!sent) {
      setBusy(false);
      showError('POS 프로그램 안에서만 로그인할 수 있습니다');
    }
  }

  form.addEventListener('submit', submit);
  TW.byId('tabPos').addEventListener('click', function () { if (!busy && mode !== 'pos') { applyMode('pos'); TW.send('setloginmode', 'pos'); } });
  TW.byId('tabMerch').addEventListener('click', function () { if (!busy && mode !== 'merch') { applyMode('merch'); TW.send('setloginmode', 'merch'); } });
  TW.byId('revealPw').addEventListener('click', function () {
    var show = pwInput.type === 'password';
    pwInput.type = show ? 'text' : 'password';
    this.textContent = show ? '숨기기' : '보기';
  });
  idInput.addEventListener('keydown', function (e) { if (e.key === 'Enter') { e.preventDefault(); pwInput.focus(); } });
  TW.bindCommonButtons();

  setBusy(false);
  idInput.focus();
  TW.send('gettheme');
  TW.send('getfull');
  TW.send('loginready');
  TW.send('getservice');
})();
