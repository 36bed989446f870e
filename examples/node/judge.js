#!/usr/bin/env node
// A judge's loop, with no process besides the contestant's: runs PROGRAM, pipes its standard
// output into a stream against ANSWER, and prints the verdict with the place of a difference.
// After a difference the program is drained to its end (a full pipe never kills it), its answer
// read no further.
//   node judge.js ANSWER PROGRAM [ARGUMENT...]
'use strict';
const { spawn } = require('node:child_process');
const { pipeline } = require('node:stream/promises');
const filterspace = require('filterspace');

async function judge(answerPath, program, args) {
  const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'inherit'] });
  const stream = filterspace.createStream(answerPath);
  await pipeline(child.stdout, stream);
  const result = await stream.result;
  if (result.same) return 'accepted';
  const { output, answer } = result;
  return `wrong answer: first difference at visible byte ${output.visibleByte}: line ${output.line}, ` +
    `column ${output.column} of the output; line ${answer.line}, column ${answer.column} of the answer`;
}

if (require.main === module) {
  const [answer, program, ...args] = process.argv.slice(2);
  judge(answer, program, args).then((verdict) => console.log(verdict), (error) => {
    console.log(`judge error: ${error.message}`);
    process.exitCode = 1;
  });
}

module.exports = { judge };
