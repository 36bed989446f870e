"""Compare by visible bytes only (0x21 to 0x7E), as the filterspace_e answer checker does, without
starting a process: every other byte is ignored wherever it stands."""
from ._filterspace import FileNotes, Notes, Place, Result, Spot, Stream, __version__, compare, compare_files

__all__ = ["FileNotes", "Notes", "Place", "Result", "Spot", "Stream", "compare", "compare_files", "__version__"]
