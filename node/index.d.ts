/// <reference types="node" />
import { Writable } from 'node:stream';
import { FileHandle } from 'node:fs/promises';

/** Where one side stopped: at its first visible byte that differs from the other side's, or at its end. */
export interface Place {
  /** From 1: the index of the first differing visible byte (for a side that ended, its visible bytes plus one). */
  visibleByte: number;
  /** Bytes before the place, from where the comparison started. */
  offset: number;
  /** From 1. */
  line: number;
  /** From 1, in bytes. */
  column: number;
  /** The side ended there. */
  atEnd: boolean;
}

export interface Spot { offset: number; line: number; column: number; }

/** What one file held besides its visible bytes, over the bytes covered from its start. */
export interface FileNotes {
  bytes: number;
  visible: number;
  complete: boolean;
  byteOrderMark: number;
  counts: { high: number; nul: number; control: number; del: number };
  first: { high?: Spot; nul?: Spot; control?: Spot; del?: Spot };
}

export interface Notes {
  output: FileNotes;
  answer: FileNotes;
  /** Visible bytes that start a token in one file and not in the other ("1 2" against "12" has one). */
  tokenStartsDiffer: number;
  firstTokenOutput: Place | null;
  firstTokenAnswer: Place | null;
}

export interface Result {
  same: boolean;
  /** The places, where asked for: by default only for a difference. */
  output?: Place;
  answer?: Place;
  /** What the rule ignored, with options.notes. */
  notes?: Notes;
}

export interface Options {
  /** 'difference' (the default), 'always' (the ends where the same, a pass over every byte), or 'none'. */
  places?: 'difference' | 'always' | 'none';
  /** Also tell what the rule ignored (not for streams). */
  notes?: boolean;
}

export interface FileOptions extends Options {
  /** Ends the comparison, rejecting with an AbortError, within 100 ms even while a pipe sends nothing. */
  signal?: AbortSignal;
}

export type Bytes = ArrayBufferView | ArrayBuffer;
export type File = string | URL | Buffer | number | FileHandle;

/** Compares two byte sequences where they stand. A string is a TypeError: pass Buffer.from(s). */
export function compare(output: Bytes, answer: Bytes, options?: Options): Result;
/** Compares two files (paths, descriptors from their offsets, FileHandles) off the event loop. */
export function compareFiles(output: File, answer: File, options?: FileOptions): Promise<Result>;
/** The same on the calling thread. */
export function compareFilesSync(output: File, answer: File, options?: Options): Result;

/** A comparison written to as the output arrives: child.stdout.pipe(stream). */
export interface ComparisonStream extends Writable {
  /** The result, once the stream has finished: the one compare() gives for the same bytes. */
  readonly result: Promise<Result>;
  /** Whether a difference has been found so far. */
  readonly differs: boolean;
  /** Bytes written, all chunks together. */
  readonly fed: number;
}
/** A stream against the answer: bytes, a path or a descriptor (read off the event loop). */
export function createStream(answer: Bytes | string | URL | number | FileHandle, options?: Options): ComparisonStream;

/** The engine's version. */
export const version: string;
