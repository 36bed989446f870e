// Two regular files read ahead on threads of their own against the same files read in turn: the
// same result, places, notes and offsets left, whatever the layout, wherever a read fails, while
// a file is cut short; threads only where asked, none after the comparison; and the comparison
// read in turn where no thread can be made.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#if !defined(TEST_UNDER_EMULATION) && (defined(__x86_64__) || defined(__aarch64__))
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#define TEST_SECCOMP 1
#endif

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "compare.h"
#include "rule_oracle.h"
#include "thread_count.h"

namespace {

constexpr size_t block = engine_block_size;

#ifndef TEST_UNDER_EMULATION  // an emulator shows its own masks
std::set<std::string> thread_ids() {
    std::set<std::string> ids;
    DIR* tasks = opendir("/proc/self/task");
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.') ids.insert(entry->d_name);
    closedir(tasks);
    return ids;
}

// The signals that each thread of this process not in `known` blocks, as the kernel shows them.
std::vector<uint64_t> blocked_by_others(const std::set<std::string>& known) {
    std::vector<uint64_t> masks;
    for (const std::string& id : thread_ids()) {
        if (known.count(id) != 0) continue;
        std::ifstream status("/proc/self/task/" + id + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigBlk:", 0) == 0) masks.push_back(std::stoull(line.substr(7), nullptr, 16));
    }
    return masks;
}
#endif

auto place_key(const Place& p) {
    return std::tuple(p.offset, p.visible, p.line, p.column, p.at_end, p.error,
                      std::string(reinterpret_cast<const char*>(p.before), p.before_size), p.before_cut,
                      std::string(reinterpret_cast<const char*>(p.after), p.after_size));
}

auto file_notes_key(const FileNotes& n) {
    return std::tuple(n.bytes, n.visible, n.complete, n.byte_order_mark, std::vector(n.count, n.count + ignored_kinds));
}

// What a comparison leaves that can be observed: result, places, notes, the descriptors' offsets,
// and the most threads the process had while it ran (seen at each stop check).
struct Observed {
    Comparison result{};
    Places where;
    Notes notes;
    off_t out_offset = 0, ans_offset = 0;
    int most_threads = 0;
    int error = 0;  // errno just after the comparison
};

// Asked before each read: counts the process's threads, and may act at its n-th call.
struct Watch {
    int calls = 0;
    int most_threads = 0;
    std::function<int(int call)> at_call;  // nonzero: stop
    static int check(void* context) {
        auto& watch = *static_cast<Watch*>(context);
        watch.most_threads = std::max(watch.most_threads, threads_now());
        return watch.at_call ? watch.at_call(++watch.calls) : 0;
    }
};

Observed observe(Workspace& workspace, int out_fd, int ans_fd, ReadAhead mode, std::function<int(int)> at_call) {
    Watch watch{0, 0, std::move(at_call)};
    const StopCheck stop{Watch::check, &watch};
    Observed seen;
    errno = 0;
    seen.result = compare_visible(workspace, out_fd, ans_fd, &seen.where, &stop, &seen.notes, mode);
    seen.error = errno;
    seen.out_offset = lseek(out_fd, 0, SEEK_CUR);
    seen.ans_offset = lseek(ans_fd, 0, SEEK_CUR);
    seen.most_threads = watch.most_threads;
    return seen;
}

class ReadAheadTest : public ::testing::Test {
protected:
    Observed compare(int out_fd, int ans_fd, ReadAhead mode, std::function<int(int)> at_call = nullptr) {
        const Observed seen = observe(*workspace_, out_fd, ans_fd, mode, std::move(at_call));
        EXPECT_EQ(threads_back_to(threads_before_), threads_before_) << "a reader outlived the comparison";
        return seen;
    }

    // The pair from the given offsets, read ahead and in turn: the same in all that can be seen.
    Observed compare_both_ways(const std::string& out, const std::string& ans, off_t out_from = 0, off_t ans_from = 0) {
        Observed seen[2];
        const ReadAhead modes[2] = {ReadAhead::never, ReadAhead::always};
        for (int k = 0; k < 2; ++k) {
            const int out_fd = memory_file(out), ans_fd = memory_file(ans);
            lseek(out_fd, out_from, SEEK_SET);
            lseek(ans_fd, ans_from, SEEK_SET);
            seen[k] = compare(out_fd, ans_fd, modes[k]);
            close(out_fd);
            close(ans_fd);
        }
        expect_same(seen[0], seen[1]);
        EXPECT_EQ(seen[0].most_threads, threads_before_) << "read in turn, yet threads ran";
        EXPECT_EQ(seen[1].most_threads, threads_before_ + 2) << "no reader ran";
        return seen[1];
    }

    static void expect_same(const Observed& in_turn, const Observed& ahead) {
        EXPECT_EQ(ahead.result, in_turn.result);
        EXPECT_EQ(place_key(ahead.where.out), place_key(in_turn.where.out));
        EXPECT_EQ(place_key(ahead.where.ans), place_key(in_turn.where.ans));
        EXPECT_EQ(file_notes_key(ahead.notes.out), file_notes_key(in_turn.notes.out));
        EXPECT_EQ(file_notes_key(ahead.notes.ans), file_notes_key(in_turn.notes.ans));
        EXPECT_EQ(ahead.notes.token_starts_differ, in_turn.notes.token_starts_differ);
        EXPECT_EQ(place_key(ahead.notes.token_out), place_key(in_turn.notes.token_out));
        EXPECT_EQ(ahead.out_offset, in_turn.out_offset) << "the output left elsewhere";
        EXPECT_EQ(ahead.ans_offset, in_turn.ans_offset) << "the answer left elsewhere";
    }

    std::unique_ptr<Workspace> workspace_ = std::make_unique<Workspace>();
    int threads_before_ = settled_threads();
};

TEST_F(ReadAheadTest, SameAsReadingInTurnOnRandomPairsAndAtBlockBoundaries) {
    std::mt19937 rng(30);
    const std::string separators[] = {" ", "\n", "\r\n", "  \n", "\t", "", "\x80\xff", std::string(1, '\0')};
#ifdef TEST_UNDER_EMULATION
    const int rounds = 6;  // each pair is compared twice, a few MiB at a time, under emulation
#else
    const int rounds = 24;
#endif
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        // Pairs of up to ten blocks, the same tokens with other separators, some altered.
        std::string out, ans;
        const size_t size = rng() % (10 * block);
        while (out.size() < size) {
            const std::string token = std::to_string(rng() % 100000);
            out += token + separators[rng() % 8];
            ans += token + separators[rng() % 8];
        }
        if (round % 3 == 1 && !ans.empty()) ans[rng() % ans.size()] = static_cast<char>('0' + rng() % 10);
        if (round % 3 == 2) out += "9";
        const Observed seen = compare_both_ways(out, ans);
        EXPECT_EQ(seen.result, same_by_rule(out, ans) ? Comparison::same : Comparison::differ);
        const char* disagree =
            places_disagree(out, ans, seen.where.out, seen.where.ans, seen.result == Comparison::same);
        EXPECT_EQ(disagree, nullptr) << disagree;
    }
    // A difference, or an end, on either side of each block boundary; from offsets within a block.
    const std::string base = numbers(rng, 6 * block + 100, {" ", "\n"});
    for (const size_t boundary : {block, 2 * block, 5 * block})
        for (const size_t at : {boundary - 1, boundary, boundary + 1}) {
            SCOPED_TRACE(at);
            std::string changed = base;
            changed[at] = changed[at] == '7' ? '8' : '7';
            compare_both_ways(changed, base);
            compare_both_ways(base, changed);
            compare_both_ways(base.substr(0, at), base);
            compare_both_ways(base, base.substr(0, at));
            compare_both_ways(base, changed, static_cast<off_t>(at % 4096), static_cast<off_t>(at % 4096));
        }
}

// A file's mapping holding `blocks` blocks of content and a page past the file's end, read
// through /proc/self/mem from its start: the blocks arrive, then the next read fails with EIO.
// The page stays mapped, so that nothing else the process maps can take its place.
class FailingFile {
public:
    FailingFile(const std::string& content, size_t blocks) : size_(blocks * block + page_) {
        const int file = memory_file(content.substr(0, blocks * block) + std::string(page_, '1'));
        if (file < 0) return;
        mapped_ = static_cast<char*>(mmap(nullptr, size_, PROT_READ, MAP_SHARED, file, 0));
        const bool cut = ftruncate(file, static_cast<off_t>(blocks * block)) == 0;
        close(file);
        if (mapped_ == MAP_FAILED || !cut) return;
        fd_ = open("/proc/self/mem", O_RDONLY);
        if (fd_ >= 0) lseek(fd_, reinterpret_cast<off_t>(mapped_), SEEK_SET);
    }
    ~FailingFile() {
        if (fd_ >= 0) close(fd_);
        if (mapped_ != MAP_FAILED) munmap(mapped_, size_);
    }
    FailingFile(const FailingFile&) = delete;
    FailingFile& operator=(const FailingFile&) = delete;
    int fd() const { return fd_; }
    off_t start() const { return reinterpret_cast<off_t>(mapped_); }  // the file's offset 0

private:
    size_t page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t size_;
    char* mapped_ = static_cast<char*>(MAP_FAILED);
    int fd_ = -1;
};

TEST_F(ReadAheadTest, ReadErrorOfEitherSideAtAChosenBlockIsTheSame) {
    std::mt19937 rng(31);
    const std::string text = numbers(rng, 8 * block, {" ", "\n"});
    for (const bool output_fails : {true, false})
        for (const size_t blocks : {size_t{0}, size_t{1}, size_t{3}, size_t{6}}) {
            SCOPED_TRACE(std::string(output_fails ? "output" : "answer") + " fails after " + std::to_string(blocks));
            Observed seen[2];
            const ReadAhead modes[2] = {ReadAhead::never, ReadAhead::always};
            for (int k = 0; k < 2; ++k) {
                const FailingFile failing(text, blocks);
                ASSERT_GE(failing.fd(), 0);
                const int whole = memory_file(text);
                seen[k] =
                    output_fails ? compare(failing.fd(), whole, modes[k]) : compare(whole, failing.fd(), modes[k]);
                (output_fails ? seen[k].out_offset : seen[k].ans_offset) -= failing.start();
                close(whole);
            }
            expect_same(seen[0], seen[1]);
            EXPECT_EQ(seen[1].result, output_fails ? Comparison::out_unreadable : Comparison::ans_unreadable);
            EXPECT_EQ((output_fails ? seen[1].where.out : seen[1].where.ans).error, EIO);
            EXPECT_EQ(seen[1].error, EIO) << "errno";
            EXPECT_EQ(seen[1].most_threads, threads_before_ + 2);
        }
}

TEST_F(ReadAheadTest, FileCutShortWhileReadEndsWhereTheReadsSawIt) {
    // The output is cut to 5 of its 9 blocks at the 4th read; the readers may have read further
    // by then. Either way the output ends at a block boundary from the 5th on, and the answer,
    // the same bytes, is found longer there.
    const std::string text(9 * block, '1');
    for (const ReadAhead mode : {ReadAhead::never, ReadAhead::always}) {
        const int out = memory_file(text), ans = memory_file(text);
        const Observed seen = compare(out, ans, mode, [out](int call) {
            if (call == 4) {
                EXPECT_EQ(ftruncate(out, 5 * block), 0);
            }
            return 0;
        });
        close(out);
        close(ans);
        if (seen.result == Comparison::same) {
            EXPECT_EQ(mode, ReadAhead::always) << "read in turn, the cut is seen";
            continue;
        }
        EXPECT_EQ(seen.result, Comparison::differ);
        EXPECT_TRUE(seen.where.out.at_end);
        EXPECT_EQ(seen.where.out.offset % block, 0u);
        EXPECT_GE(seen.where.out.offset, 5 * block);
        EXPECT_EQ(seen.where.ans.offset, seen.where.out.offset);
        if (mode == ReadAhead::never) {
            EXPECT_EQ(seen.where.out.offset, 5 * block);
        }
    }
}

TEST_F(ReadAheadTest, ThreadsOnlyWhereWorthItAndStoppedWithTheComparison) {
    const std::string big(read_ahead_after / 2 + block, '1'), small(3 * block, '1');
    cpu_set_t cpus;
    ASSERT_EQ(sched_getaffinity(0, sizeof cpus, &cpus), 0);
    const bool enough_cpus = CPU_COUNT(&cpus) >= read_ahead_cpus;
    const auto threads_seen = [&](const std::string& out, const std::string& ans, ReadAhead mode,
                                  std::function<int(int)> at_call = nullptr) {
        const int out_fd = memory_file(out), ans_fd = memory_file(ans);
        const Observed seen = compare(out_fd, ans_fd, mode, std::move(at_call));
        close(out_fd);
        close(ans_fd);
        return std::pair(seen.most_threads - threads_before_, seen.result);
    };
    EXPECT_EQ(threads_seen(big, big, ReadAhead::when_worth_it).first, enough_cpus ? 2 : 0);
    EXPECT_EQ(threads_seen(small, small, ReadAhead::when_worth_it).first, 0) << "small files";
    // The rule itself, whatever this machine's CPUs: both sizes count, and three CPUs are needed.
    const int small_fd = memory_file(small), big_fd = memory_file(std::string(read_ahead_after, '1'));
    EXPECT_TRUE(worth_reading_ahead(small_fd, big_fd, ReadAhead::when_worth_it, read_ahead_cpus));
    EXPECT_TRUE(worth_reading_ahead(big_fd, small_fd, ReadAhead::when_worth_it, read_ahead_cpus));
    EXPECT_FALSE(worth_reading_ahead(big_fd, small_fd, ReadAhead::when_worth_it, read_ahead_cpus - 1));
    close(small_fd);
    close(big_fd);
    EXPECT_EQ(threads_seen(big, big, ReadAhead::never).first, 0);
    // One file for both sides is read in turn, as ever.
    const int one = memory_file(big);
    const int again = open(("/proc/self/fd/" + std::to_string(one)).c_str(), O_RDONLY);
    EXPECT_EQ(compare(one, again, ReadAhead::always).most_threads, threads_before_);
    close(one);
    close(again);
    // Pinned to one CPU: read in turn whatever the size.
    cpu_set_t one_cpu;
    CPU_ZERO(&one_cpu);
    CPU_SET(sched_getcpu(), &one_cpu);
    ASSERT_EQ(sched_setaffinity(0, sizeof one_cpu, &one_cpu), 0);
    EXPECT_EQ(threads_seen(big, big, ReadAhead::when_worth_it).first, 0) << "one CPU";
    ASSERT_EQ(sched_setaffinity(0, sizeof cpus, &cpus), 0);
#ifndef TEST_UNDER_EMULATION
    // The readers block the signals a judge or a caller's handler would act on, so that those
    // run on the comparison's thread, whose waits they end.
    const std::set<std::string> known = thread_ids();
    std::vector<uint64_t> masks;
    threads_seen(big, big, ReadAhead::always, [&](int call) {
        if (call == 3) masks = blocked_by_others(known);
        return 0;
    });
    ASSERT_EQ(masks.size(), 2u);
    for (const uint64_t mask : masks)
        for (const int signal : {SIGINT, SIGTERM, SIGALRM, SIGUSR1, SIGCHLD, SIGPIPE, SIGXCPU})
            EXPECT_NE(mask & (uint64_t{1} << (signal - 1)), 0u) << "signal " << signal << " not blocked";
#endif
    // Stopped by the caller at the 6th read: the readers end with it (compare checks).
    const auto [threads, result] = threads_seen(big, big, ReadAhead::always, [](int call) { return call >= 6; });
    EXPECT_EQ(threads, 2);
    EXPECT_EQ(result, Comparison::stopped);
}

// A stop function that forks: the child has none of the readers, and finishes the comparison
// reading in turn from where it stood, as its parent does with them (waiting for the readers, it
// never finished once).
TEST_F(ReadAheadTest, ChildForkedDuringTheComparisonReadsInTurn) {
    std::mt19937 rng(34);
    std::string out = numbers(rng, 6 * block, {" ", "\n"}), ans = out;
    ans[ans.size() - 5] = ans[ans.size() - 5] == '7' ? '8' : '7';
    const int out_fd = memory_file(out), ans_fd = memory_file(ans);
    const Observed in_turn = compare(out_fd, ans_fd, ReadAhead::never);
    lseek(out_fd, 0, SEEK_SET);
    lseek(ans_fd, 0, SEEK_SET);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t parent = getpid();
    pid_t child = -1;
    Observed seen = observe(*workspace_, out_fd, ans_fd, ReadAhead::always, [&child](int call) {
        if (call == 3) child = fork();
        return 0;
    });
    if (getpid() != parent) _exit(write(report[1], &seen, sizeof seen) == sizeof seen ? 0 : 4);
    close(report[1]);
    ASSERT_GT(child, 0);
    Observed childs;
    pollfd reported{report[0], POLLIN, 0};
    const bool finished = poll(&reported, 1, 20000) == 1 && read(report[0], &childs, sizeof childs) == sizeof childs;
    if (!finished) kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(report[0]);
    ASSERT_TRUE(finished) << "the child never finished";
    expect_same(in_turn, childs);
    expect_same(in_turn, seen);
    close(out_fd);
    close(ans_fd);
}

#ifdef TEST_SECCOMP
TEST_F(ReadAheadTest, ReadInTurnWhereNoThreadCanBeMade) {
    // A child process where making a thread fails (EAGAIN from clone and clone3, as a limit on
    // processes would give) compares as a parent reading in turn does.
    std::mt19937 rng(33);
    std::string out = numbers(rng, 3 * block, {" ", "\n", "\r\n"}), ans = out;
    ans[ans.size() - 5] = ans[ans.size() - 5] == '7' ? '8' : '7';
    const int out_fd = memory_file(out), ans_fd = memory_file(ans);
    const Observed in_turn = compare(out_fd, ans_fd, ReadAhead::never);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 1, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            _exit(3);
        lseek(out_fd, 0, SEEK_SET);
        lseek(ans_fd, 0, SEEK_SET);
        const int child_threads = threads_now();  // a sanitizer's own thread is made again in a child
        Observed seen = observe(*workspace_, out_fd, ans_fd, ReadAhead::always, nullptr);
        seen.most_threads -= child_threads;
        _exit(write(report[1], &seen, sizeof seen) == sizeof seen ? 0 : 4);
    }
    close(report[1]);
    Observed seen;
    const bool reported = read(report[0], &seen, sizeof seen) == sizeof seen;
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    ASSERT_TRUE(reported);
    EXPECT_EQ(seen.most_threads, 0) << "a thread was made after all";
    expect_same(in_turn, seen);
    close(out_fd);
    close(ans_fd);
}
#endif

}  // namespace
