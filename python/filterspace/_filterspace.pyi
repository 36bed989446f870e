import os
from typing import Optional, Protocol, Union

__version__: str

class _HasFileno(Protocol):
    def fileno(self) -> int: ...

_Buffer = Union[bytes, bytearray, memoryview]
_File = Union[str, bytes, os.PathLike[str], os.PathLike[bytes], int, _HasFileno]

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

class Result:
    """True when the visible bytes are the same; where they differ, the place of each side."""
    @property
    def same(self) -> bool: ...
    @property
    def output(self) -> Optional[Place]: ...
    @property
    def answer(self) -> Optional[Place]: ...
    def __bool__(self) -> bool: ...

def compare(output: _Buffer, answer: _Buffer) -> Result:
    """Compares two bytes-like objects where they stand; a buffer rewritten meanwhile by another
    thread gives an unspecified result, never a read outside it."""

def compare_files(output: _File, answer: _File) -> Result:
    """Compares two files, streamed: a path; a descriptor, from its offset; a binary file object,
    from its tell(), and left there. A text file raises TypeError, a file object that cannot tell
    its position ValueError; Ctrl-C in the main thread ends it with KeyboardInterrupt."""
