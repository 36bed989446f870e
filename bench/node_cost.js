'use strict';
// What the Node module costs, as the benchmark prints it (bench/run_benchmark.py): a tiny comparison
// in process against spawning the checker from Node; equal buffers, with Buffer.compare beside
// them; a drain of a stream after a difference against comparing as much. One line of JSON.
//   FILTERSPACE_NODE=DIR node node_cost.js CHECKER TINY_OUT TINY_ANS CALLS MIB DRAIN_MB
const { spawnSync } = require('node:child_process');
const filterspace = require(process.env.FILTERSPACE_NODE);

const [checker, tinyOut, tinyAns, calls, mib, drainMb] = process.argv.slice(2);
const seconds = (action) => { const start = process.hrtime.bigint(); action(); return Number(process.hrtime.bigint() - start) / 1e9; };
const best = (action, rounds = 5) => Math.min(...Array.from({ length: rounds }, () => seconds(action)));

const [out, ans] = [Buffer.from('1 2\n'), Buffer.from('12')];
const tinyUs = best(() => { for (let k = 0; k < Number(calls); ++k) filterspace.compare(out, ans); }) * 1e6 / Number(calls);
const spawns = Math.max(20, Number(calls) / 1000);
const spawnUs = best(() => {
  for (let k = 0; k < spawns; ++k) spawnSync(checker, ['/dev/null', tinyOut, tinyAns], { stdio: 'ignore' });
}, 3) * 1e6 / spawns;

const size = Number(mib) << 20;
const big = Buffer.alloc(size, '1234567 \n', 'latin1');  // as library_cost --buffers fills its own
const copy = Buffer.from(big);
const moduleS = best(() => filterspace.compare(big, copy));
const bufferCompareS = best(() => Buffer.compare(big, copy));

// A stream fed the same 64 KiB chunks: after a difference in the first, and with none.
const chunk = Buffer.alloc(1 << 16, 0x31);
const chunks = Math.floor(Number(drainMb) * 1e6 / chunk.length);
const answer = Buffer.alloc(chunks * chunk.length, 0x31);
async function streamed(first) {
  const stream = filterspace.createStream(answer);
  const start = process.hrtime.bigint();
  stream.write(first);
  for (let k = 1; k < chunks; ++k) if (!stream.write(chunk)) await new Promise((resolve) => stream.once('drain', resolve));
  stream.end();
  const result = await stream.result;
  return [Number(process.hrtime.bigint() - start) / 1e9, result.same];
}
(async () => {
  let drainS = Infinity, comparedS = Infinity;
  for (let round = 0; round < 5; ++round) {
    const [drained, drainedSame] = await streamed(Buffer.alloc(chunk.length, 0x32));
    const [compared, comparedSame] = await streamed(chunk);
    if (drainedSame || !comparedSame) throw new Error('the streams gave the wrong results');
    drainS = Math.min(drainS, drained);
    comparedS = Math.min(comparedS, compared);
  }
  console.log(JSON.stringify({ tinyUs, spawnUs, moduleS, bufferCompareS, drainS, comparedS }));
})();
