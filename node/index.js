'use strict';
// Compare by visible bytes only (0x21 to 0x7E), as the filterspace_e checker does, without starting
// a process: every other byte is ignored wherever it stands.
const { Writable } = require('node:stream');
const { fileURLToPath } = require('node:url');
const util = require('node:util');
const native = require('./build/Release/filterspace.node');

// The places of each side: by default only for a difference (no cost where there is none).
const PLACES = { difference: 0, always: 1, none: 2 };

function placesOf(options) {
  const wanted = options.places === undefined ? 'difference' : options.places;
  if (!Object.hasOwn(PLACES, wanted)) {
    throw new TypeError(`options.places must be 'difference', 'always' or 'none', not ${util.inspect(wanted)}`);
  }
  return PLACES[wanted];
}

// Bytes are the contract: a string has none until it is encoded.
function bytesOf(value, name) {
  if (typeof value === 'string') {
    throw new TypeError(`${name} must be bytes, not a string: pass Buffer.from(${name}) to compare its UTF-8 bytes`);
  }
  if (ArrayBuffer.isView(value) || value instanceof ArrayBuffer) return value;
  throw new TypeError(`${name} must be a Buffer, a typed array, an ArrayBuffer or a DataView`);
}

// A file: a path (a string, a Buffer or a file: URL), a descriptor, or an fs.promises FileHandle.
function fileOf(value, name) {
  if (typeof value === 'string') return value;
  if (value instanceof URL) return fileURLToPath(value);
  if (Buffer.isBuffer(value)) return value.toString();
  if (Number.isInteger(value) && value >= -1 && value <= 0x7fffffff) return value;
  if (value !== null && typeof value === 'object' && Number.isInteger(value.fd)) return value.fd;
  throw new TypeError(`${name} must be a path, a descriptor or a FileHandle`);
}

// Node's own kind of error, as fs gives it (code, errno, syscall, path), and which side it was.
function systemError({ errno, syscall, side, path }) {
  const [code, message] = util.getSystemErrorMap().get(-errno) || ['UNKNOWN', 'unknown error'];
  const error = new Error(`${code}: ${message}, ${syscall}${path === undefined ? '' : ` '${path}'`} (the ${side})`);
  Object.assign(error, { errno: -errno, code, syscall, side });
  if (path !== undefined) error.path = path;
  return error;
}

function abortError(signal) {
  const error = new Error('The operation was aborted', { cause: signal?.reason });
  error.name = 'AbortError';
  error.code = 'ABORT_ERR';
  return error;
}

function settled(outcome, signal) {
  if (outcome.aborted) throw abortError(signal);
  if (outcome.error) throw systemError(outcome.error);
  return outcome.result;
}

/** Compares two byte sequences where they stand. */
function compare(output, answer, options = {}) {
  return native.compare(bytesOf(output, 'output'), bytesOf(answer, 'answer'), placesOf(options), !!options.notes);
}

/** Compares two files, each read from its current offset, off the event loop. */
async function compareFiles(output, answer, options = {}) {
  const { signal } = options;
  const places = placesOf(options);
  const sides = [fileOf(output, 'output'), fileOf(answer, 'answer')];
  if (signal?.aborted) throw abortError(signal);
  const { promise, handle } = native.compareFiles(...sides, places, !!options.notes);
  // The library asks its stop function between reads; the wake-up ends a read that waits, and is
  // sent again until the work ends, since one sent just before a read starts would be lost.
  let waking;
  const onAbort = () => {
    native.abort(handle);
    waking = setInterval(() => native.abort(handle), 10);
  };
  signal?.addEventListener('abort', onAbort, { once: true });
  try {
    return settled(await promise, signal);
  } finally {
    clearInterval(waking);
    signal?.removeEventListener('abort', onAbort);
  }
}

/** The same on the calling thread: the event loop waits for it. */
function compareFilesSync(output, answer, options = {}) {
  const places = placesOf(options);
  return settled(native.compareFilesSync(fileOf(output, 'output'), fileOf(answer, 'answer'), places,
    !!options.notes));
}

// A comparison written to as the output arrives: child.stdout.pipe(stream). After a difference it
// keeps accepting what is written, at the cost of counting it, and reads the answer no further.
class ComparisonStream extends Writable {
  constructor(answer, options = {}) {
    super({ decodeStrings: false });
    const places = placesOf(options);
    const held = typeof answer === 'string' || answer instanceof URL || Number.isInteger(answer) ||
      (answer !== null && typeof answer === 'object' && Number.isInteger(answer.fd) && !ArrayBuffer.isView(answer))
      ? fileOf(answer, 'answer') : bytesOf(answer, 'answer');
    this._handle = native.streamCreate(held, places);
    this._running = false;  // a write or the finish, on the thread pool or here
    this._ended = null;
    this._waking = null;
    this.result = new Promise((resolve, reject) => { this._settle = { resolve, reject }; });
    this.result.catch(() => {});  // told through 'error' too: never an unhandled rejection
  }

  // The library's while the stream runs; once it finished, what it finished with.
  get differs() { return this._ended ? !this._ended.result.same : native.streamDiffers(this._handle); }
  get fed() { return this._ended ? this._ended.fed : native.streamFed(this._handle); }

  _called(callback) {
    this._running = true;
    return (failure, result) => {
      this._running = false;
      clearInterval(this._waking);
      this._waking = null;
      if (failure) {
        const error = failure.aborted ? abortError() : systemError(failure);
        this._settle.reject(error);
        callback(error);
      } else {
        callback(null, result);
      }
    };
  }

  _write(chunk, encoding, callback) {
    if (typeof chunk === 'string') {
      callback(new TypeError('a stream takes bytes, not strings: write Buffer.from(text)'));
      return;
    }
    native.streamWrite(this._handle, chunk, this._called(callback));
  }

  _final(callback) {
    const fed = native.streamFed(this._handle);
    native.streamFinish(this._handle, this._called((error, result) => {
      if (!error) {
        this._ended = { result, fed };
        this._settle.resolve(result);
      }
      callback(error);
    }));
  }

  // Ends a write that waits on a silent answer: woken as compareFiles' work is.
  _destroy(error, callback) {
    native.streamAbort(this._handle);
    if (this._running && this._waking === null) {
      this._waking = setInterval(() => native.streamAbort(this._handle), 10);
      this._waking.unref();
    }
    this._settle.reject(error || abortError());
    callback(error);
  }
}

/** A writable stream against the answer (bytes, a path or a descriptor); its result, a promise. */
function createStream(answer, options) {
  return new ComparisonStream(answer, options);
}

module.exports = { compare, compareFiles, compareFilesSync, createStream, version: native.version };
