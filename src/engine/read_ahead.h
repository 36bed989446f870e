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
// measures where it does).
inline constexpr uint64_t read_ahead_after = uint64_t{8} << 20;

// A CPU for each reader and one for the comparison: on two, the three threads take turns, and
// reading ahead costs more than it saves (measured: slower, and twice the CPU time).
inline constexpr int read_ahead_cpus = 3;

// Blocks of the engine's block size in each side's ring, the one the comparison holds among them.
// Each side waits for half the ring rather than for a block: waking a thread costs more than a
// block's read.
inline constexpr unsigned read_ahead_blocks = 4;

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
