'use strict';
// The module against the C library (the library's example, FILTERSPACE_ORACLE), the stream against
// compare(), the abort, Node's errors and the event loop, on the module installed from its tarball
// (FILTERSPACE_NODE; tests/node_module_test.sh).
const { test } = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawn } = require('node:child_process');
const { Readable } = require('node:stream');
const { pipeline } = require('node:stream/promises');
const filterspace = require(process.env.FILTERSPACE_NODE || '..');

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'filterspace-node-'));
process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
let files = 0;
function file(bytes) {
  const at = path.join(dir, `f${files++}`);
  fs.writeFileSync(at, bytes);
  return at;
}

// The C library's result and places, as its example prints them.
function oracle(out, ans) {
  let said;
  try {
    said = execFileSync(process.env.FILTERSPACE_ORACLE, [file(out), file(ans)], { encoding: 'utf8' });
  } catch (error) {
    said = error.stdout;
  }
  if (said === 'same\n') return { same: true };
  const [, visible, outLine, outColumn, ansLine, ansColumn] =
    said.match(/visible byte (\d+): \S+:(\d+):(\d+), \S+:(\d+):(\d+)/).map(Number);
  return { same: false, visible, outLine, outColumn, ansLine, ansColumn };
}

function told(result) {
  if (result.same) return { same: true };
  const { output: o, answer: a } = result;
  return { same: false, visible: o.visibleByte, outLine: o.line, outColumn: o.column, ansLine: a.line, ansColumn: a.column };
}

// The rule's cases, then numbers with other blanks and a difference sprinkled in.
const pairs = [['1 2', '12'], ['Hello\nWorld', 'HelloWorld'], ['1\r\n2\r\n', '1\n2'], ['abc', 'abd'], ['ab', 'abc'],
  ['abc', 'ab'], ['', ' \n\t'], ['A', 'a'], ['1.0', '1'], ['caf\xc3\xa9', 'caf'], ['1\x002\x7f', '12'], ['', '']]
  .map(([o, a]) => [Buffer.from(o, 'latin1'), Buffer.from(a, 'latin1')]);
let seed = 7;
const random = (n) => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed % n; };
for (let round = 0; round < 60; round++) {
  let out = '', ans = '';
  for (let size = random(round % 3 ? 300 : 300000); ans.length < size;) {
    const number = String(random(100000));
    out += number + [' ', '\n', '\r\n'][random(3)];
    ans += number + ['\t', ' ', ''][random(3)];
  }
  if (round % 2) out = out.slice(0, random(out.length + 1)) + 'x' + out.slice(random(out.length + 1));
  pairs.push([Buffer.from(out), Buffer.from(ans)]);
}

test('compare and compareFiles agree with the C library, results and places', async () => {
  for (const [out, ans] of pairs) {
    const want = oracle(out, ans);
    assert.deepStrictEqual(told(filterspace.compare(out, ans)), want);
    assert.deepStrictEqual(told(await filterspace.compareFiles(file(out), file(ans))), want);
  }
  // Every kind of bytes, where they stand; a string is no bytes.
  const bytes = Buffer.from('x1 2y');
  for (const view of [bytes.subarray(1, 4), new Uint8Array([49, 32, 50]), new Uint16Array([0x2031, 0x0032]),
    new DataView(bytes.buffer, bytes.byteOffset + 1, 3), new Uint8Array([49, 50]).buffer]) {
    assert.strictEqual(filterspace.compare(view, Buffer.from('12')).same, true, view.constructor.name);
  }
  assert.throws(() => filterspace.compare('12', Buffer.from('12')), /Buffer\.from/);
  assert.throws(() => filterspace.compare(Buffer.from('1'), Buffer.from('1'), { places: 'some' }), TypeError);
});

test('places and notes on request, from a descriptor\'s offset and a FileHandle', async () => {
  const [out, ans] = [Buffer.from('1 2\n3'), Buffer.from('12\x003 4')];
  assert.strictEqual(filterspace.compare(out, Buffer.from('123'), { places: 'always' }).output.line, 2);
  assert.strictEqual(filterspace.compare(out, ans, { places: 'none' }).output, undefined);
  const { notes } = filterspace.compareFilesSync(file(out), file(ans), { notes: true });
  assert.deepStrictEqual([notes.answer.counts.nul, notes.answer.first.nul.column, notes.tokenStartsDiffer], [1, 3, 1]);
  const fd = fs.openSync(file('skipped 1 2'), 'r');
  fs.readSync(fd, Buffer.alloc(8), 0, 8, null);  // the descriptor's offset now stands at "1 2"
  const handle = await fs.promises.open(file('12'), 'r');
  assert.strictEqual((await filterspace.compareFiles(fd, handle)).same, true);
  fs.closeSync(fd);
  await handle.close();
});

test('errors are Node\'s own, with their side', async () => {
  const missing = path.join(dir, 'missing');
  await assert.rejects(filterspace.compareFiles(missing, file('1')),
    { code: 'ENOENT', errno: -2, syscall: 'open', path: missing, side: 'output' });
  assert.throws(() => filterspace.compareFilesSync(file('1'), dir), { code: 'EISDIR', side: 'answer' });
  assert.throws(() => filterspace.compareFilesSync(file('1'), ''), { code: 'ENOENT', syscall: 'open', path: '' });
  await assert.rejects(filterspace.compareFiles('/proc/self/mem', file('1')), { code: 'EIO', syscall: 'read' });
  const stream = filterspace.createStream(missing);
  stream.on('error', () => {});
  stream.end(Buffer.from('1'));
  await assert.rejects(stream.result, { code: 'ENOENT', side: 'answer' });
});

test('the stream agrees with compare at every chunking, and drains after a difference', async () => {
  for (const [out, ans] of pairs.slice(0, 30)) {
    const want = filterspace.compare(out, ans);
    const at = file(ans);
    for (const answer of [ans, at, fs.openSync(at, 'r')]) {
      const chunks = [];
      for (let i = 0; i < out.length;) { const n = 1 + random(out.length > 1000 ? 70000 : 7); chunks.push(out.subarray(i, i + n)); i += n; }
      const stream = filterspace.createStream(answer);
      await pipeline(Readable.from(chunks), stream);
      assert.deepStrictEqual(await stream.result, want);
      assert.strictEqual(stream.fed, out.length);
      if (typeof answer === 'number') fs.closeSync(answer);
    }
  }
  const stream = filterspace.createStream(Buffer.from('1'));
  stream.write(Buffer.from('2'));
  for (let i = 0; i < 100; i++) stream.write(Buffer.alloc(1 << 16, 0x33));
  stream.end();
  assert.strictEqual((await stream.result).same, false);
  assert.strictEqual(stream.fed, 1 + 100 * (1 << 16));
});

test('an abort ends a comparison waiting on a silent FIFO within 100 ms, its descriptors closed',
  { timeout: 10000 }, async () => {
  const [writerless, silent] = [path.join(dir, 'writerless'), path.join(dir, 'silent')];
  execFileSync('mkfifo', [writerless, silent]);
  const writer = spawn('sh', ['-c', 'exec 3>"$0"; sleep 5', silent], { stdio: 'ignore' });  // opens it, says nothing
  const before = fs.readdirSync('/proc/self/fd').length;
  for (const [fifo, waiting] of [[writerless, 'open'], [silent, 'read']]) {
    const controller = new AbortController();
    const comparing = filterspace.compareFiles(fifo, file('1'), { signal: controller.signal });
    await new Promise((resolve) => setTimeout(resolve, 200));
    const aborted = Date.now();
    controller.abort();
    await assert.rejects(comparing, { name: 'AbortError' }, waiting);
    assert.ok(Date.now() - aborted < 100, `${Date.now() - aborted} ms`);
  }
  writer.kill();
  assert.strictEqual(fs.readdirSync('/proc/self/fd').length, before, 'a descriptor left open');
});

test('the event loop ticks while a FIFO that a child feeds for a second is compared', async () => {
  const fifo = path.join(dir, 'fed');
  execFileSync('mkfifo', [fifo]);
  const feeder = spawn('sh', ['-c', 'exec >"$0"; for i in 1 2 3 4 5 6 7 8 9 10; do echo "$i 2 3"; sleep 0.1; done', fifo]);
  let ticks = 0;
  const ticking = setInterval(() => ticks++, 10);
  const answer = file('1 2 3 2 2 3 3 2 3 4 2 3 5 2 3 6 2 3 7 2 3 8 2 3 9 2 3 10 2 3');
  const result = await filterspace.compareFiles(fifo, answer);
  clearInterval(ticking);
  feeder.kill();
  assert.strictEqual(result.same, true);
  assert.ok(ticks >= 20, `${ticks} ticks`);
});
