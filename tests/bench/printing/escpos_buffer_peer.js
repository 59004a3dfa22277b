// The benchmark's peer: the escpos-buffer library (npm) building the same
// receipt into a buffer, line by line with the same alignment and sizes,
// its text encoded to code page 949 by the library's own iconv-lite.
//
//   node escpos_buffer_peer.js MODULE_DIR LINES.json ITERATIONS
//
// Prints the nanoseconds one receipt takes and the size of the last buffer.
'use strict';
const path = require('path');
const fs = require('fs');

const [moduleDir, linesFile, iterationsText] = process.argv.slice(2);
const { Printer, InMemory, Style, Align, Cut } = require(path.join(moduleDir, 'escpos-buffer'));
const lines = JSON.parse(fs.readFileSync(linesFile, 'utf8'));
const iterations = parseInt(iterationsText, 10) || 1000;

async function receipt() {
  const connection = new InMemory();
  const printer = await Printer.CONNECT('TM-T20', connection);
  // The library's Epson profile lists Western code pages only; the Korean
  // receipt needs 949, which its encoder knows.
  printer.model.profile._codepage = { code: 'cp949', command: '' };
  for (const line of lines) {
    const style = line.big ? Style.DoubleWidth | Style.DoubleHeight : 0;
    await printer.writeln(line.text, style, line.center ? Align.Center : Align.Left);
  }
  await printer.cutter(Cut.Partial);
  return connection.buffer();
}

(async () => {
  let size = 0;
  for (let i = 0; i < Math.max(50, iterations / 10); i++) size = (await receipt()).length;
  const start = process.hrtime.bigint();
  for (let i = 0; i < iterations; i++) size = (await receipt()).length;
  const elapsed = Number(process.hrtime.bigint() - start);
  console.log(JSON.stringify({ ns: elapsed / iterations, bytes: size }));
})().catch((e) => {
  console.error(e && e.stack || e);
  process.exit(1);
});
