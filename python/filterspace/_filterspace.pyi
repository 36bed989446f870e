import os
from types import TracebackType
from typing import Dict, Optional, Protocol, Type, Union

__version__: str

class _HasFileno(Protocol):
    def fileno(self) -> int: ...

class _ReadsInto(Protocol):
    def readinto(self, buffer: memoryview) -> int: ...

_Buffer = Union[bytes, bytearray, memoryview]
_File = Union[str, bytes, os.PathLike[str], os.PathLike[bytes], int, _HasFileno, _ReadsInto]

class Place:
    """Where one side stopped, counted from 1 as filterspace_cmp prints it."""
    @property
    def visible_byte(self) -> int: ...
    @property
    def offset(self) -> int: ...
    @property
    def line(self) -> int: ...
    @property
    def column(self) -> int: ...
    @property
    def at_end(self) -> bool: ...

class Spot:
    """Where a byte stands: offset from 0, line and column from 1."""
    @property
    def offset(self) -> int: ...
    @property
    def line(self) -> int: ...
    @property
    def column(self) -> int: ...

class FileNotes:
    """What one file held besides its visible bytes, over the bytes covered from its start."""
    @property
    def bytes(self) -> int: ...
    @property
    def visible(self) -> int: ...
    @property
    def complete(self) -> bool: ...
    @property
    def byte_order_mark(self) -> int: ...
    @property
    def counts(self) -> Dict[str, int]: ...
    """'high' (from 0x80 up), 'nul', 'control' (not white space), 'del'"""
    @property
    def first(self) -> Dict[str, Spot]: ...

class Notes:
    """What the rule ignored: each file's ignored bytes, and the visible bytes that start a token in
    one file and not in the other, with the first of them."""
    @property
    def output(self) -> FileNotes: ...
    @property
    def answer(self) -> FileNotes: ...
    @property
    def token_starts_differ(self) -> int: ...
    @property
    def first_token_output(self) -> Optional[Place]: ...
    @property
    def first_token_answer(self) -> Optional[Place]: ...

class Result:
    """True when the visible bytes are the same; where they differ, the place of each side."""
    @property
    def same(self) -> bool: ...
    @property
    def output(self) -> Optional[Place]: ...
    @property
    def answer(self) -> Optional[Place]: ...
    @property
    def notes(self) -> Optional[Notes]: ...
    def __bool__(self) -> bool: ...

def compare(output: _Buffer, answer: _Buffer, *, notes: bool = False) -> Result:
    """Compares two bytes-like objects where they stand; a buffer rewritten meanwhile by another
    thread gives an unspecified result, never a read outside it."""

def compare_files(output: _File, answer: _File, *, notes: bool = False) -> Result:
    """Compares two files, streamed: a path; a descriptor, from its offset; a binary file whose
    bytes are its descriptor's (io.FileIO or a buffered reader over one), from its tell(), and left
    there; any other object with readinto() or read() (a gzip, bz2 or lzma file), read through it
    (no notes then). A text file raises TypeError, a file object that cannot tell its position
    ValueError; Ctrl-C in the main thread ends it with KeyboardInterrupt."""

class Stream:
    """A comparison to which the output is written as it arrives, against an answer read only as
    far as the output needs: bytes-like (the answer itself), a path (str or os.PathLike), a
    descriptor, a binary file whose bytes are its descriptor's, or any other object with
    readinto() or read() (a zip member, a gzip file), read through it."""
    def __init__(
        self,
        answer: Union[_Buffer, str, os.PathLike[str], os.PathLike[bytes], int, _HasFileno, _ReadsInto],
        *,
        places: bool = True,
    ) -> None: ...
    def write(self, chunk: _Buffer) -> int:
        """Compares the next chunk of output (a str raises TypeError); returns its length."""
    @property
    def differs(self) -> bool: ...
    @property
    def fed(self) -> int: ...
    @property
    def result(self) -> Optional[Result]: ...
    def finish(self) -> Result:
        """The output has ended: the Result that compare() gives for the same bytes."""
    def close(self) -> None: ...
    def writable(self) -> bool: ...
    def flush(self) -> None: ...
    def __enter__(self) -> "Stream": ...
    def __exit__(
        self, kind: Optional[Type[BaseException]], value: Optional[BaseException], traceback: Optional[TracebackType]
    ) -> bool: ...
