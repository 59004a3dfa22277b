/* Small Excel workbooks in the page, without office software: the reader
   takes the first sheet of an .xlsx file as rows of text (as Excel shows
   the cells), and the writer makes a one-sheet workbook of text cells,
   stored uncompressed. Every failure of the reader is one Korean message;
   nothing is thrown to the caller. */
(function () {
  'use strict';
  var TW = window.TW = window.TW || {};
  var X = TW.xlsx = {};

  var MAX_PART = 20 * 1024 * 1024;   // uncompressed bytes of one part
  var MAX_ROWS = 100000;
  var MAX_COLUMNS = 200;

  var TEXT = {
    broken: '엑셀 파일을 읽지 못했어요 — 파일이 깨졌을 수 있어요. 엑셀에서 «다른 이름으로 저장» 으로 다시 저장해 주세요.',
    encrypted: '암호가 걸린 엑셀 파일이에요 — 엑셀에서 암호를 풀고 다시 저장해서 올려 주세요.',
    tooBig: '엑셀 파일이 너무 커요(시트가 20MB 넘음) — 나눠서 올려 주세요.',
    tooManyRows: '줄이 너무 많아요(100,000줄까지) — 나눠서 올려 주세요.',
    tooManyColumns: '칸이 너무 많아요(200칸까지) — 송장에 필요한 칸만 남겨서 올려 주세요.',
    noSheet: '엑셀 파일에서 시트를 찾지 못했어요 — 엑셀에서 «다른 이름으로 저장» 으로 다시 저장해 주세요.',
    noInflate: '이 화면에서 압축된 엑셀 파일을 풀지 못했어요 — CSV 로 저장해서 올려 주세요.'
  };
  X.TEXT = TEXT;

  // A refusal carries its user message through the promise chain.
  function Refusal(message) { this.message = message; }
  function refuse(message) { throw new Refusal(message); }

  var NS_REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships';

  // ---- ZIP reading ----

  function u16(b, at) { return b[at] | (b[at + 1] << 8); }
  function u32(b, at) { return (b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) + b[at + 3] * 0x1000000; }

  // The entries of the central directory by name.
  function directory(bytes) {
    var n = bytes.length, end = -1, at;
    for (at = n - 22; at >= 0 && at >= n - 22 - 65535; at--) {
      if (bytes[at] === 0x50 && bytes[at + 1] === 0x4B && bytes[at + 2] === 0x05 && bytes[at + 3] === 0x06) { end = at; break; }
    }
    if (end < 0) refuse(TEXT.broken);
    var count = u16(bytes, end + 10), offset = u32(bytes, end + 16);
    if (count === 0xFFFF || offset === 0xFFFFFFFF || offset >= n) refuse(TEXT.broken);
    var entries = Object.create(null), names = new TextDecoder('utf-8');
    at = offset;
    for (var i = 0; i < count; i++) {
      if (at + 46 > n || u32(bytes, at) !== 0x02014B50) refuse(TEXT.broken);
      var nameLength = u16(bytes, at + 28), extra = u16(bytes, at + 30), comment = u16(bytes, at + 32);
      if (at + 46 + nameLength > n) refuse(TEXT.broken);
      var name = names.decode(bytes.subarray(at + 46, at + 46 + nameLength));
      entries[name] = {
        flags: u16(bytes, at + 8), method: u16(bytes, at + 10),
        packed: u32(bytes, at + 20), size: u32(bytes, at + 24), local: u32(bytes, at + 42)
      };
      at += 46 + nameLength + extra + comment;
    }
    return entries;
  }

  // The bytes of one entry, inflated when deflated, never more than MAX_PART.
  function entryBytes(bytes, entry) {
    if (entry.flags & 1) refuse(TEXT.encrypted);
    if (entry.size > MAX_PART) refuse(TEXT.tooBig);
    var at = entry.local;
    if (at + 30 > bytes.length || u32(bytes, at) !== 0x04034B50) refuse(TEXT.broken);
    var start = at + 30 + u16(bytes, at + 26) + u16(bytes, at + 28);
    if (start + entry.packed > bytes.length) refuse(TEXT.broken);
    var packed = bytes.subarray(start, start + entry.packed);
    if (entry.method === 0) return Promise.resolve(packed);
    if (entry.method !== 8) refuse(TEXT.broken);
    if (typeof DecompressionStream !== 'function') refuse(TEXT.noInflate);
    var stream;
    try { stream = new DecompressionStream('deflate-raw'); } catch (e) { refuse(TEXT.noInflate); }
    var writer = stream.writable.getWriter();
    writer.write(packed).catch(function () {});
    writer.close().catch(function () {});
    var reader = stream.readable.getReader(), chunks = [], total = 0;
    function next() {
      return reader.read().then(function (step) {
        if (step.done) {
          var out = new Uint8Array(total), pos = 0;
          chunks.forEach(function (c) { out.set(c, pos); pos += c.length; });
          return out;
        }
        total += step.value.length;
        if (total > MAX_PART) { reader.cancel().catch(function () {}); refuse(TEXT.tooBig); }
        chunks.push(step.value);
        return next();
      }, function () { refuse(TEXT.broken); });
    }
    return next();
  }

  // ---- XML ----

  function xml(text) {
    var doc = new DOMParser().parseFromString(text, 'application/xml');
    if (!doc || !doc.documentElement || doc.getElementsByTagName('parsererror').length) refuse(TEXT.broken);
    return doc;
  }
  function all(node, local) { return node.getElementsByTagNameNS('*', local); }
  function children(node, local) {
    var out = [];
    for (var c = node.firstElementChild; c; c = c.nextElementSibling) if (c.localName === local) out.push(c);
    return out;
  }
  // Text with the _xHHHH_ escapes of the format decoded.
  function unescapeText(text) {
    return text.replace(/_x([0-9A-Fa-f]{4})_/g, function (m, hex) { return String.fromCharCode(parseInt(hex, 16)); });
  }
  // A string item's text: its own t, or its rich-text runs joined; phonetic guides left out.
  function itemText(node) {
    var text = '', ts = all(node, 't');
    for (var i = 0; i < ts.length; i++) {
      if (ts[i].parentNode && ts[i].parentNode.localName === 'rPh') continue;
      text += ts[i].textContent;
    }
    return unescapeText(text);
  }

  // A number as Excel's General format shows it: whole numbers in full digits.
  function numberText(raw) {
    var value = Number(raw);
    if (raw === '' || !isFinite(value)) return raw;
    if (Number.isInteger(value) && Math.abs(value) < 1e21) return String(value);
    var text = String(Number(value.toPrecision(15)));
    return text.replace('e+', 'E+').replace('e-', 'E-');
  }

  // The column index of a reference such as "AB12" (A is 0), or -1.
  function columnOf(ref) {
    var m = /^([A-Za-z]{1,3})\d+$/.exec(ref || '');
    if (!m) return -1;
    var letters = m[1].toUpperCase(), n = 0;
    for (var i = 0; i < letters.length; i++) n = n * 26 + (letters.charCodeAt(i) - 64);
    return n - 1;
  }

  function cellText(cell, shared) {
    var type = cell.getAttribute('t') || 'n';
    var v = children(cell, 'v')[0], raw = v ? v.textContent : '';
    switch (type) {
      case 's': {
        var index = Number(raw);
        if (raw === '' || !Number.isInteger(index) || index < 0 || index >= shared.length) refuse(TEXT.broken);
        return shared[index];
      }
      case 'inlineStr': {
        var is = children(cell, 'is')[0];
        return is ? itemText(is) : '';
      }
      case 'str': return unescapeText(raw);
      case 'b': return raw === '' ? '' : raw === '1' || raw === 'true' ? 'TRUE' : 'FALSE';
      case 'n': return numberText(raw.trim());
      default: return raw;
    }
  }

  function sheetRows(doc, shared) {
    var rowNodes = all(doc, 'row'), rows = [];
    for (var i = 0; i < rowNodes.length; i++) {
      var cells = children(rowNodes[i], 'c'), row = [], next = 0;
      for (var j = 0; j < cells.length; j++) {
        var ref = cells[j].getAttribute('r'), column = ref ? columnOf(ref) : next;
        if (column < 0) refuse(TEXT.broken);
        next = column + 1;
        var text = cellText(cells[j], shared);
        if (text === '') continue;
        if (column >= MAX_COLUMNS) refuse(TEXT.tooManyColumns);
        while (row.length < column) row.push('');
        row[column] = text;
      }
      if (row.length && rows.push(row) > MAX_ROWS) refuse(TEXT.tooManyRows);
    }
    return rows;
  }

  // The path of the first sheet, from the workbook and its relationships.
  function firstSheetPath(workbook, rels) {
    var sheet = all(workbook, 'sheet')[0];
    if (!sheet) return '';
    var id = sheet.getAttributeNS(NS_REL, 'id') || sheet.getAttribute('r:id');
    var list = all(rels, 'Relationship');
    for (var i = 0; i < list.length; i++) {
      if (list[i].getAttribute('Id') !== id) continue;
      var target = list[i].getAttribute('Target') || '';
      var parts = (target.charAt(0) === '/' ? target.slice(1) : 'xl/' + target).split('/'), path = [];
      parts.forEach(function (p) { if (p === '..') path.pop(); else if (p && p !== '.') path.push(p); });
      return path.join('/');
    }
    return '';
  }

  // Reads a workbook's bytes (Uint8Array). Resolves to {ok:true, rows} or {ok:false, msg}.
  X.read = function (bytes) {
    var entries, decoder = new TextDecoder('utf-8');
    var part = function (name) {
      var entry = entries[name];
      if (!entry) return Promise.resolve(null);
      return entryBytes(bytes, entry).then(function (b) { return xml(decoder.decode(b)); });
    };
    return Promise.resolve().then(function () {
      entries = directory(bytes);
      return Promise.all([part('xl/workbook.xml'), part('xl/_rels/workbook.xml.rels'), part('xl/sharedStrings.xml')]);
    }).then(function (found) {
      var path = found[0] && found[1] ? firstSheetPath(found[0], found[1]) : '';
      if (!path || !entries[path]) path = 'xl/worksheets/sheet1.xml';
      if (!entries[path]) refuse(TEXT.noSheet);
      var shared = found[2] ? children(found[2].documentElement, 'si').map(itemText) : [];
      return part(path).then(function (sheet) { return { ok: true, rows: sheetRows(sheet, shared) }; });
    }).catch(function (e) {
      if (!(e instanceof Refusal) && window.console) console.warn('xlsx', e);
      return { ok: false, msg: e instanceof Refusal ? e.message : TEXT.broken };
    });
  };

  // The same from base64 text: resolves to the rows, or fails with a
  // value whose text X.message gives.
  X.readBase64 = function (text) {
    return X.read(X.fromBase64(text)).then(function (r) {
      if (!r.ok) throw new Refusal(r.msg);
      return r.rows;
    });
  };
  X.message = function (e) { return e instanceof Refusal ? e.message : TEXT.broken; };

  X.fromBase64 = function (text) {
    var binary;
    try { binary = atob(String(text || '')); } catch (e) { return new Uint8Array(0); }
    var out = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) out[i] = binary.charCodeAt(i);
    return out;
  };
  X.toBase64 = function (bytes) {
    var binary = '';
    for (var i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(binary);
  };

  // ---- writing ----

  var crcTable = null;
  X.crc32 = function (bytes) {
    if (!crcTable) {
      crcTable = new Uint32Array(256);
      for (var n = 0; n < 256; n++) {
        var c = n;
        for (var k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
        crcTable[n] = c >>> 0;
      }
    }
    var crc = 0xFFFFFFFF;
    for (var i = 0; i < bytes.length; i++) crc = crcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
    return (crc ^ 0xFFFFFFFF) >>> 0;
  };

  // A stored (uncompressed) ZIP of [name, text] pairs.
  X.zip = function (files) {
    var encoder = new TextEncoder(), locals = [], centrals = [], offset = 0;
    function header(size) { var b = new Uint8Array(size); return { bytes: b, view: new DataView(b.buffer) }; }
    files.forEach(function (file) {
      var name = encoder.encode(file[0]), data = encoder.encode(file[1]), crc = X.crc32(data);
      var local = header(30), v = local.view;
      v.setUint32(0, 0x04034B50, true); v.setUint16(4, 20, true); v.setUint16(12, 0x21, true);
      v.setUint32(14, crc, true); v.setUint32(18, data.length, true); v.setUint32(22, data.length, true);
      v.setUint16(26, name.length, true);
      var central = header(46), w = central.view;
      w.setUint32(0, 0x02014B50, true); w.setUint16(4, 20, true); w.setUint16(6, 20, true); w.setUint16(14, 0x21, true);
      w.setUint32(16, crc, true); w.setUint32(20, data.length, true); w.setUint32(24, data.length, true);
      w.setUint16(28, name.length, true); w.setUint32(42, offset, true);
      locals.push(local.bytes, name, data);
      centrals.push(central.bytes, name);
      offset += 30 + name.length + data.length;
    });
    var size = 0;
    centrals.forEach(function (b) { size += b.length; });
    var end = header(22), e = end.view;
    e.setUint32(0, 0x06054B50, true); e.setUint16(8, files.length, true); e.setUint16(10, files.length, true);
    e.setUint32(12, size, true); e.setUint32(16, offset, true);
    var parts = locals.concat(centrals, [end.bytes]), total = 0, pos = 0;
    parts.forEach(function (b) { total += b.length; });
    var out = new Uint8Array(total);
    parts.forEach(function (b) { out.set(b, pos); pos += b.length; });
    return out;
  };

  function escapeXml(text) {
    return String(text).replace(/_(x[0-9A-Fa-f]{4}_)/g, '_x005F_$1').replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
      .replace(/[\u0000-\u0008\u000B\u000C\u000E-\u001F\uFFFE\uFFFF]/g, '');
  }
  function columnName(n) {
    var s = '';
    for (n += 1; n > 0; n = Math.floor((n - 1) / 26)) s = String.fromCharCode(65 + (n - 1) % 26) + s;
    return s;
  }

  // A one-sheet workbook: rows of text cells, the first row a bold header
  // that stays in view, and the header's columns kept as text so that
  // numbers typed in them keep their leading zeros and every digit.
  X.write = function (sheetName, rows, widths) {
    if (rows.length && !Array.isArray(rows[0])) rows = [rows];
    var head = rows[0] || [], decl = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n';
    var ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"';
    var cols = head.map(function (h, i) {
      return '<col min="' + (i + 1) + '" max="' + (i + 1) + '" width="' + ((widths && widths[i]) || 18) + '" customWidth="1" style="2"/>';
    }).join('');
    var data = rows.map(function (row, r) {
      return '<row r="' + (r + 1) + '">' + row.map(function (v, c) {
        return v === '' || v == null ? '' : '<c r="' + columnName(c) + (r + 1) + '" t="inlineStr" s="' + (r === 0 ? 1 : 2)
          + '"><is><t xml:space="preserve">' + escapeXml(v) + '</t></is></c>';
      }).join('') + '</row>';
    }).join('');
    return X.zip([
      ['[Content_Types].xml', decl + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        + '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        + '<Default Extension="xml" ContentType="application/xml"/>'
        + '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        + '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        + '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
        + '</Types>'],
      ['_rels/.rels', decl + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        + '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
        + '</Relationships>'],
      ['xl/workbook.xml', decl + '<workbook ' + ns + ' xmlns:r="' + NS_REL + '"><sheets><sheet name="' + escapeXml(sheetName)
        + '" sheetId="1" r:id="rId1"/></sheets></workbook>'],
      ['xl/_rels/workbook.xml.rels', decl + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        + '<Relationship Id="rId1" Type="' + NS_REL + '/worksheet" Target="worksheets/sheet1.xml"/>'
        + '<Relationship Id="rId2" Type="' + NS_REL + '/styles" Target="styles.xml"/>'
        + '</Relationships>'],
      ['xl/styles.xml', decl + '<styleSheet ' + ns + '>'
        + '<fonts count="2"><font><sz val="11"/><name val="맑은 고딕"/><family val="2"/></font>'
        + '<font><b/><sz val="11"/><name val="맑은 고딕"/><family val="2"/></font></fonts>'
        + '<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>'
        + '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>'
        + '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
        + '<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
        + '<xf numFmtId="49" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1" applyNumberFormat="1" applyAlignment="1"><alignment horizontal="center"/></xf>'
        + '<xf numFmtId="49" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1" quotePrefix="1"/></cellXfs>'
        + '<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>'
        + '</styleSheet>'],
      ['xl/worksheets/sheet1.xml', decl + '<worksheet ' + ns + '>'
        + '<sheetViews><sheetView workbookViewId="0"><pane ySplit="1" topLeftCell="A2" activePane="bottomLeft" state="frozen"/>'
        + '<selection pane="bottomLeft" activeCell="A2" sqref="A2"/></sheetView></sheetViews>'
        + '<sheetFormatPr defaultRowHeight="15"/>' + (cols ? '<cols>' + cols + '</cols>' : '')
        + '<sheetData>' + data + '</sheetData></worksheet>']
    ]);
  };
})();
