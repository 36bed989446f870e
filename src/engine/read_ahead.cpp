#include "read_ahead.h"

#include <cerrno>

#include "compare.h"

// A judge that compiles a drop-in from its one source does not link the threads library, which
// glibc before 2.34 keeps apart: there, and off Linux, nothing reads ahead.
#if defined(__linux__) && !defined(FILTERSPACE_SINGLE_SOURCE)

#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>  // PTHREAD_STACK_MIN, on musl
#include <csignal>
#include <cstdlib>
#include <new>

namespace {

// Enough for pread and the lock: a reader's stack is mostly never touched.
constexpr size_t reader_stack_size = size_t{64} << 10;

// Blocks of the engine's block size in each side's ring, the one the comparison holds among them.
// Each side waits for half the ring rather than for a block: waking a thread costs more than a
// block's read.
constexpr unsigned read_ahead_blocks = 4;

}  // namespace

// One side: its reader thread fills the ring's blocks in turn, the comparison takes them in turn.
struct ReadAheadLane {
    int fd = -1;
    uint8_t* ring = nullptr;
    uint64_t read_at = 0;   // the reader's next offset (the reader's alone)
    uint64_t taken_to = 0;  // the offset past the blocks the comparison took (the comparison's alone)
    pthread_t thread{};
    bool running = false;

    // Guarded by the mutex: blocks filled and released so far, and what each read returned.
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed = PTHREAD_COND_INITIALIZER;  // a block filled or released, or stopping
    uint64_t filled = 0;
    uint64_t released = 0;
    bool stopping = false;
    bool reader_ended = false;    // after the read that returned 0 or failed
    bool reader_waiting = false;  // for room in the ring
    bool taker_waiting = false;   // for blocks
    long size[read_ahead_blocks] = {};
    int error[read_ahead_blocks] = {};

    uint64_t taken = 0;  // blocks the comparison took (the comparison's alone)

    uint8_t* block(uint64_t k) const { return ring + (k % read_ahead_blocks) * engine_block_size; }
};

struct ReadAheadLanes {
    ReadAheadLane lane[2];
    // The process whose threads read ahead: a child forked meanwhile (by a stop function, say)
    // has none of them, and reads in turn from where the comparison stands.
    pid_t owner = 0;
};

namespace {

void* read_lane(void* argument) {
    ReadAheadLane& lane = *static_cast<ReadAheadLane*>(argument);
    for (uint64_t k = 0;; ++k) {
        pthread_mutex_lock(&lane.mutex);
        // A block is free once the comparison released it, the one it holds still being in use.
        if (!lane.stopping && k - lane.released >= read_ahead_blocks) {
            lane.reader_waiting = true;
            // Woken when half the ring is free, not for each block: a wake-up costs more than a read.
            while (!lane.stopping && k - lane.released > read_ahead_blocks / 2)
                pthread_cond_wait(&lane.changed, &lane.mutex);
            lane.reader_waiting = false;
        }
        const bool stopping = lane.stopping;
        pthread_mutex_unlock(&lane.mutex);
        if (stopping) return nullptr;

        long got;
        do got = pread(lane.fd, lane.block(k), engine_block_size, static_cast<off_t>(lane.read_at));
        while (got < 0 && errno == EINTR);
        const int error = got < 0 ? (errno != 0 ? errno : EIO) : 0;
        if (got > 0) lane.read_at += static_cast<uint64_t>(got);

        pthread_mutex_lock(&lane.mutex);
        lane.size[k % read_ahead_blocks] = got;
        lane.error[k % read_ahead_blocks] = error;
        lane.filled = k + 1;
        lane.reader_ended = got <= 0;
        if (lane.taker_waiting && (lane.filled - lane.taken >= read_ahead_blocks / 2 || lane.reader_ended))
            pthread_cond_broadcast(&lane.changed);
        if (lane.reader_ended) {  // the end, or a failure the comparison meets there
            // Kept until stopped, as while reading: the comparison's end is the one end of a reader.
            while (!lane.stopping) pthread_cond_wait(&lane.changed, &lane.mutex);
        }
        pthread_mutex_unlock(&lane.mutex);
        if (got <= 0) return nullptr;
    }
}

// The CPUs this process may run on (its affinity mask), 1 where it cannot tell.
int cpus_allowed() {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
}

// Makes the lane's reader with every signal blocked (the process's handlers run on its other
// threads, as before), on a stack of the given size (0: the C library's default); 0 or an errno.
int create_reader(ReadAheadLane& lane, size_t stack_size) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return EAGAIN;
    int failed = stack_size != 0 ? pthread_attr_setstacksize(&attributes, stack_size) : 0;
    if (failed == 0) {
        sigset_t all, before;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        failed = pthread_create(&lane.thread, &attributes, read_lane, &lane);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    pthread_attr_destroy(&attributes);
    return failed;
}

// False when the thread cannot be made (a limit on processes or threads, a filter on the calls).
bool start_reader(ReadAheadLane& lane) {
    int failed = create_reader(lane, std::max<size_t>(PTHREAD_STACK_MIN, reader_stack_size));
    // The C library refuses a small stack where it puts a large thread-local storage on the
    // stack too (the sanitizers' does).
    if (failed == EINVAL) failed = create_reader(lane, 0);
    lane.running = failed == 0;
    return lane.running;
}

void stop_reader(ReadAheadLane& lane) {
    if (!lane.running) return;
    pthread_mutex_lock(&lane.mutex);
    lane.stopping = true;
    pthread_cond_broadcast(&lane.changed);
    pthread_mutex_unlock(&lane.mutex);
    pthread_join(lane.thread, nullptr);
    lane.running = false;
}

// A forked child's next block, read in turn: its copy of the lanes' locks may be held by threads
// it does not have, so it never takes them.
long read_in_turn(ReadAheadLane& lane, uint8_t*& bytes, int& error) {
    bytes = lane.block(lane.taken++);
    long got;
    do got = pread(lane.fd, bytes, engine_block_size, static_cast<off_t>(lane.taken_to));
    while (got < 0 && errno == EINTR);
    error = got < 0 ? (errno != 0 ? errno : EIO) : 0;
    if (got > 0) lane.taken_to += static_cast<uint64_t>(got);
    if (got < 0) errno = error;
    return got;
}

}  // namespace

// Two regular files, not one file twice (whose reads by turns the comparison would see), worth
// threads of their own.
bool worth_reading_ahead(int out_fd, int ans_fd, ReadAhead mode, int cpus) {
    if (mode == ReadAhead::never) return false;
    struct stat out {
    }, ans{};
    if (fstat(out_fd, &out) != 0 || fstat(ans_fd, &ans) != 0 || !S_ISREG(out.st_mode) || !S_ISREG(ans.st_mode))
        return false;
    if (out.st_dev == ans.st_dev && out.st_ino == ans.st_ino) return false;
    if (mode == ReadAhead::always) return true;
    return static_cast<uint64_t>(out.st_size) + static_cast<uint64_t>(ans.st_size) >= read_ahead_after &&
           cpus >= read_ahead_cpus;
}

bool ReadingAhead::start(int out_fd, int ans_fd, ReadAhead mode) {
    if (lanes_ != nullptr ||
        !worth_reading_ahead(out_fd, ans_fd, mode, mode == ReadAhead::when_worth_it ? cpus_allowed() : 0))
        return false;
    const off_t out_at = lseek(out_fd, 0, SEEK_CUR);
    const off_t ans_at = lseek(ans_fd, 0, SEEK_CUR);
    if (out_at < 0 || ans_at < 0) return false;
    constexpr size_t ring_size = size_t{2} * read_ahead_blocks * engine_block_size;
    // From the C library: the commands link no C++ run-time library.
    auto* ring = static_cast<uint8_t*>(aligned_alloc(64, ring_size));
    void* lanes_memory = malloc(sizeof(ReadAheadLanes));
    if (ring == nullptr || lanes_memory == nullptr) {
        free(ring);
        free(lanes_memory);
        return false;
    }
    auto* lanes = new (lanes_memory) ReadAheadLanes;
    const int fds[2] = {out_fd, ans_fd};
    const off_t offsets[2] = {out_at, ans_at};
    for (unsigned side = 0; side < 2; ++side) {
        ReadAheadLane& lane = lanes->lane[side];
        lane.fd = fds[side];
        lane.ring = ring + size_t{side} * read_ahead_blocks * engine_block_size;
        lane.read_at = lane.taken_to = static_cast<uint64_t>(offsets[side]);
    }
    lanes->owner = getpid();
    lanes_ = lanes;
    if (!start_reader(lanes->lane[0]) || !start_reader(lanes->lane[1])) {
        stop();  // nothing was taken: the descriptors stay where they were
        return false;
    }
    return true;
}

long ReadingAhead::next(unsigned side, uint8_t*& bytes, int& error) {
    ReadAheadLane& lane = lanes_->lane[side];
    if (getpid() != lanes_->owner) return read_in_turn(lane, bytes, error);
    pthread_mutex_lock(&lane.mutex);
    if (lane.taken > lane.released) {  // the block held until now is done with
        lane.released = lane.taken;
        if (lane.reader_waiting && lane.filled - lane.released <= read_ahead_blocks / 2)
            pthread_cond_broadcast(&lane.changed);
    }
    if (lane.filled == lane.taken) {
        lane.taker_waiting = true;
        while (lane.filled - lane.taken < read_ahead_blocks / 2 && !lane.reader_ended)
            pthread_cond_wait(&lane.changed, &lane.mutex);
        lane.taker_waiting = false;
    }
    const uint64_t k = lane.taken++;
    const long got = lane.size[k % read_ahead_blocks];
    error = lane.error[k % read_ahead_blocks];
    pthread_mutex_unlock(&lane.mutex);
    bytes = lane.block(k);
    if (got > 0) lane.taken_to += static_cast<uint64_t>(got);
    if (got < 0) errno = error;
    return got;
}

void ReadingAhead::stop() {
    if (lanes_ == nullptr) return;
    if (getpid() == lanes_->owner)
        for (ReadAheadLane& lane : lanes_->lane) stop_reader(lane);
    // The readers never moved the descriptors (pread).
    for (ReadAheadLane& lane : lanes_->lane)
        if (lane.taken != 0) (void)lseek(lane.fd, static_cast<off_t>(lane.taken_to), SEEK_SET);
    free(lanes_->lane[0].ring);
    lanes_->~ReadAheadLanes();
    free(lanes_);
    lanes_ = nullptr;
}

#else

bool worth_reading_ahead(int, int, ReadAhead, int) { return false; }
bool ReadingAhead::start(int, int, ReadAhead) { return false; }
long ReadingAhead::next(unsigned, uint8_t*&, int& error) {
    error = EINVAL;
    return -1;
}
void ReadingAhead::stop() { lanes_ = nullptr; }

#endif
