// A judge's built-in checker without a fork: check(outputPath, answerPath) gives {status, message},
// status 'accepted', 'wrong answer' or 'judge error'. The output is the contestant's: one that cannot
// be opened or read is a wrong answer, unless the judge's machine is at fault (no descriptor or
// memory left, an I/O error); the answer is the judge's. No message holds a byte of the answer.
'use strict';
const filterspace = require('filterspace');

const MACHINE_TROUBLE = new Set(['EMFILE', 'ENFILE', 'ENOMEM', 'ENOBUFS', 'EIO']);

async function check(outputPath, answerPath) {
  let result;
  try {
    result = await filterspace.compareFiles(outputPath, answerPath);
  } catch (error) {
    if (error.side === 'output' && !MACHINE_TROUBLE.has(error.code))
      return { status: 'wrong answer', message: `the output cannot be ${error.syscall === 'open' ? 'opened' : 'read'}: ${error.code}` };
    return { status: 'judge error', message: `the ${error.side || 'comparison'} failed: ${error.code || error.message}` };
  }
  if (result.same) return { status: 'accepted', message: 'ok' };
  const { output, answer } = result;
  const where = output.atEnd
    ? `the output ended after ${output.visibleByte - 1} visible bytes, at line ${output.line}, column ${output.column}`
    : answer.atEnd
      ? `the output goes on past the answer's ${answer.visibleByte - 1} visible bytes, at line ${output.line}, column ${output.column}`
      : `first difference at visible byte ${output.visibleByte}: line ${output.line}, column ${output.column} of the output`;
  return { status: 'wrong answer', message: `${where}; line ${answer.line}, column ${answer.column} of the answer` };
}

module.exports = { check };
