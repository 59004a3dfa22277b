/* Shared helpers of the counter pages: the bridge, the status message, the
   theme and the callbacks every page answers the same way. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};

  // Sends one bridge command: the name and its arguments joined by "</>".
  TW.send = function () {
    var text = Array.prototype.join.call(arguments, '</>');
    if (window.tillwave && typeof window.tillwave.viewinfo === 'function') {
      window.tillwave.viewinfo(text);
      return true;
    }
    return false;
  };

  var toastTimer = 0;
  TW.toast = function (message) {
    message = String(message == null ? '' : message);
    if (!message) return;
    var node = document.getElementById('toast');
    if (!node) {
      node = document.createElement('div');
      node.id = 'toast';
      node.setAttribute('role', 'status');
      document.body.appendChild(node);
    }
    node.textContent = message;
    node.classList.add('show');
    clearTimeout(toastTimer);
    toastTimer = setTimeout(function () { node.classList.remove('show'); }, Math.min(8000, 2600 + message.length * 60));
  };

  TW.byId = function (id) { return document.getElementById(id); };
  TW.setText = function (id, text) { var n = TW.byId(id); if (n) n.textContent = text == null ? '' : String(text); };
  TW.show = function (id, on) { var n = TW.byId(id); if (n) n.classList.toggle('hidden', !on); };

  // The states of the program update that keep the counter from signing in.
  TW.updateBlocksLogin = function (state) {
    return ['app-fetch', 'app-ready', 'app-fail', 'ui-fetch', 'ui-fail'].indexOf(state) >= 0;
  };
  TW.updateText = function (state, message) {
    if (message) return message;
    switch (state) {
      case 'app-fetch': return '새 프로그램을 받는 중입니다…';
      case 'app-ready': return '새 프로그램을 받았습니다. 다시 켜면 적용됩니다.';
      case 'app-fail': return '프로그램 갱신에 실패했습니다.';
      case 'ui-fetch': return '새 화면을 받는 중입니다…';
      case 'ui-fail': return '화면 갱신에 실패했습니다.';
      case 'ui-retained': return '이전 화면을 유지하고 있습니다.';
      case 'server-old': return '서버가 이 판을 아직 지원하지 않습니다.';
      case 'sign-fail': return '서명이 맞지 않는 갱신을 받지 않았습니다.';
      default: return '';
    }
  };

  // Callbacks shared by every page. A page may wrap them to do more.
  window.setStatus = function (message) { TW.toast(message); };
  window.setTheme = function (theme) {
    document.documentElement.setAttribute('data-theme', theme === 'dark' ? 'dark' : 'light');
    if (TW.onTheme) TW.onTheme(theme === 'dark' ? 'dark' : 'light');
  };
  window.setVersion = function (text) { TW.setText('version', text); };
  window.setFullState = function (full) {
    TW.fullscreen = Number(full) === 1;
    var button = TW.byId('fullBtn');
    if (button) button.textContent = TW.fullscreen ? '창 모드' : '전체 화면';
  };
  window.setServerDown = function (minutes, names) {
    minutes = Number(minutes) || 0;
    var bar = TW.byId('serverDown');
    if (!bar) return;
    if (minutes <= 0 || !names) { bar.classList.add('hidden'); return; }
    TW.setText('serverDownText', names + ' 연결이 ' + minutes + '분째 끊겨 있습니다. 인터넷 연결을 확인해 주세요.');
    bar.classList.remove('hidden');
  };
  window.setServiceBlock = function (merchant, food, shop, message, notice, pos) {
    var bar = TW.byId('serviceNotice');
    if (!bar) return;
    var text = '';
    if (Number(pos)) text = message || '지금은 POS 점검 중입니다. 잠시 후 다시 시도해 주세요.';
    else if (notice) text = notice;
    else if (Number(merchant) || Number(food) || Number(shop)) text = message || '일부 서비스가 점검 중입니다.';
    bar.classList.toggle('danger', !!Number(pos));
    bar.classList.toggle('info', !Number(pos));
    TW.setText('serviceNoticeText', text);
    bar.classList.toggle('hidden', !text);
    TW.serviceBlocked = !!Number(pos);
    if (TW.onServiceBlock) TW.onServiceBlock(TW.serviceBlocked);
  };
  window.setUpdateState = function (state, message) {
    TW.updateState = state || '';
    var bar = TW.byId('updateBar');
    if (bar) {
      var text = TW.updateText(state, message);
      TW.setText('updateText', text);
      bar.classList.toggle('hidden', !text);
      var failed = state === 'app-fail' || state === 'ui-fail' || state === 'sign-fail';
      bar.classList.toggle('danger', failed);
      bar.classList.toggle('info', !failed);
      TW.show('updateRetry', failed);
      TW.show('updateRestart', state === 'app-ready');
    }
    if (TW.onUpdateState) TW.onUpdateState(TW.updateState);
  };

  TW.bindCommonButtons = function () {
    var full = TW.byId('fullBtn');
    if (full) full.addEventListener('click', function () { TW.send('setfull'); });
    var quit = TW.byId('quitBtn');
    if (quit) quit.addEventListener('click', function () { TW.send('quitapp'); });
    var retry = TW.byId('updateRetry');
    if (retry) retry.addEventListener('click', function () { TW.send('updateretry'); });
    var restart = TW.byId('updateRestart');
    if (restart) restart.addEventListener('click', function () { TW.send('restartapp'); });
  };
})();
