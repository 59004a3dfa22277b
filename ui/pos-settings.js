/* The POS settings panel: one sheet with a list of sections on the left and
   the chosen section on the right. Each subsystem adds its own section with
   TW.settings.add({ id, title, build(body), show() }): build runs once, show
   every time the section comes into view. openPosSettings() opens it. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};
  var sections = [];
  var current = null;
  var panel = null;

  function el(tag, cls, text) {
    var n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text !== undefined && text !== null) n.textContent = String(text);
    return n;
  }

  function build() {
    if (panel) return panel;
    panel = el('div', 'ps hidden');
    panel.id = 'posSettings';
    panel.setAttribute('role', 'dialog');
    panel.setAttribute('aria-modal', 'true');
    var card = el('div', 'ps-card');
    var head = el('header', 'ps-head');
    head.appendChild(el('h2', '', '설정'));
    var close = el('button', 'btn small', '닫기');
    close.type = 'button';
    close.id = 'posSettingsClose';
    close.addEventListener('click', TW.settings.close);
    head.appendChild(close);
    var nav = el('nav', 'ps-nav');
    nav.id = 'posSettingsNav';
    var body = el('section', 'ps-body');
    body.id = 'posSettingsBody';
    card.appendChild(head);
    card.appendChild(nav);
    card.appendChild(body);
    panel.appendChild(card);
    panel.addEventListener('click', function (e) { if (e.target === panel) TW.settings.close(); });
    document.body.appendChild(panel);
    return panel;
  }

  function select(section) {
    current = section;
    Array.prototype.forEach.call(document.querySelectorAll('#posSettingsNav button'), function (b) {
      b.classList.toggle('active', b.getAttribute('data-section') === section.id);
    });
    sections.forEach(function (s) { if (s.node) s.node.classList.toggle('hidden', s !== section); });
    if (!section.node) {
      section.node = el('div', 'ps-section');
      section.node.setAttribute('data-section', section.id);
      document.getElementById('posSettingsBody').appendChild(section.node);
      if (section.build) section.build(section.node);
    }
    if (section.show) section.show();
  }

  TW.settings = {
    add: function (section) {
      sections.push(section);
      if (!panel) return;
      addNavButton(section);
    },
    open: function (id) {
      build();
      var nav = document.getElementById('posSettingsNav');
      if (!nav.childNodes.length) sections.forEach(addNavButton);
      panel.classList.remove('hidden');
      var wanted = sections.filter(function (s) { return s.id === id; })[0] || current || sections[0];
      if (wanted) select(wanted);
    },
    close: function () {
      if (panel) panel.classList.add('hidden');
      sections.forEach(function (s) { if (s.hide) s.hide(); });
    },
    isOpen: function () { return !!panel && !panel.classList.contains('hidden'); },
    el: el
  };

  function addNavButton(section) {
    var nav = document.getElementById('posSettingsNav');
    if (!nav) return;
    var b = el('button', 'ps-tab', section.title);
    b.type = 'button';
    b.setAttribute('data-section', section.id);
    b.addEventListener('click', function () { select(section); });
    nav.appendChild(b);
  }

  window.openPosSettings = function (id) { TW.settings.open(typeof id === 'string' ? id : undefined); };

  // A settings button in the top bar, when the page has none of its own.
  document.addEventListener('DOMContentLoaded', function () {
    if (document.getElementById('settingsBtn')) return;
    var actions = document.querySelector('.topbar-actions');
    if (!actions) return;
    var b = el('button', 'btn small', '설정');
    b.type = 'button';
    b.id = 'settingsBtn';
    b.addEventListener('click', function () { window.openPosSettings(); });
    actions.insertBefore(b, actions.firstChild);
  });
  document.addEventListener('keydown', function (e) {
    if (e.key === 'Escape' && TW.settings.isOpen()) TW.settings.close();
  });
})();
