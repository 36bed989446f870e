// Reading both files of a comparison ahead of it, each on a thread of its own, into a small ring
// of blocks, while the comparison runs on the calling thread: it then waits for reading only
// where reading is slower than comparing. For regular files only; nothing runs here when a thread
// or the ring's memory cannot be had, and the comparison reads as it always did.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether a comparison of descriptors reads ahead: when both are regular files whose sizes
// together pass read_ahead_after and the process may run on read_ahead_cpus CPUs or more; never;
// or whenever both are regular files (the tests choose, as they choose kernel sets).
enum class ReadAhead { when_worth_it, never, always };

// Both files' sizes together from which reading ahead pays for its threads (the benchmark
// measures where it does). (Enumerators: constants that a build without reading ahead, the
// drop-ins', may leave unused without a warning.)
enum : uint64_t { read_ahead_after = uint64_t{8} << 20 };

// A CPU for each reader and one for the comparison: on two, the three threads take turns, and
// reading ahead costs more than it saves (the benchmark's table of reading ahead shows it).
enum : int { read_ahead_cpus = 3 };

// Whether two descriptors are worth reading ahead in the mode given, for a process that may run on
// `cpus` CPUs (start() counts them): both regular files, not one file twice, and, when worth it,
// their sizes together past read_ahead_after and CPUs enough.
bool worth_reading_ahead(int out_fd, int ans_fd, ReadAhead mode, int cpus);

struct ReadAheadLanes;

// Stopped by its owner, not by a destructor: one would make a Windows build of the engine, where
// exceptions are on, load the unwinder from a DLL.
class ReadingAhead {
public:
    ReadingAhead() = default;
    ReadingAhead(const ReadingAhead&) = delete;
    ReadingAhead& operator=(const ReadingAhead&) = delete;

    // Starts a thread for each descriptor that reads it ahead from its offset, where the mode
    // asks for it; false when it does not, or when a thread or the memory cannot be had (nothing
    // then runs, and neither descriptor has moved).
    bool start(int out_fd, int ans_fd, ReadAhead mode);

    // The next block of a side (0 the output, 1 the answer), waited for: bytes is pointed at it,
    // and the count is returned (0 at the end, -1 with error set where the read failed). The
    // block stays in place until the side's next call.
    long next(unsigned side, uint8_t*& bytes, int& error);

    // Stops both threads and waits for them; each descriptor is left where reading it block by
    // block would have left it: past the last block the comparison took.
    void stop();

private:
    ReadAheadLanes* lanes_ = nullptr;
};
