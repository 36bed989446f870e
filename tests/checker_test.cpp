// Black-box tests: the built checker, run as a judge runs it, in a mount namespace of its own with
// a private /tmp, so that the fixed record path never touches the machine's /tmp and the tests
// may fill /tmp or make it read-only.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "run_program.h"

namespace {

constexpr char record_path[] = "/tmp/_eval.score";
constexpr char usage_line[] = "Usage: quarn_e <in> <out> <ans>\n";
constexpr char right_record[] = "Right Output!!!\n10\n";
constexpr char wrong_record[] = "Wrong Answer\n0\n";
constexpr char out_failure_record[] = "Can not open player's output file!\n0\n";
constexpr char ans_failure_record[] = "Can not open standard answer!\n0\n";
constexpr char record_diagnostic[] = "Can not open /tmp/_eval.score!\n";
constexpr uid_t nobody = 65534;

// Empty when this process has a private mount namespace, else why it has none.
const std::string& namespace_problem() {
    static const std::string problem = []() -> std::string {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string(
                       "needs root and a private mount namespace (unshare -m) to give the checker a "
                       "private /tmp: ") +
                   strerror(errno);
        return {};
    }();
    return problem;
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Names in /tmp that a checker made beside the record and did not remove, one a line.
std::string private_files_left() {
    std::string names;
    DIR* tmp = opendir("/tmp");
    if (tmp == nullptr) return "cannot list /tmp";
    while (const dirent* entry = readdir(tmp))
        if (strncmp(entry->d_name, "_eval.score.", 12) == 0) names += std::string(entry->d_name) + "\n";
    closedir(tmp);
    return names;
}

bool exists(const std::string& path) {
    struct stat st = {};
    return lstat(path.c_str(), &st) == 0;
}

class Checker : public ::testing::Test {
protected:
    // The compared files live in the private /tmp too, beside the record: the working directory
    // may itself be under the /tmp that the test hides.
    const std::string scratch = "/tmp/scratch";

    void SetUp() override {
        if (!namespace_problem().empty()) GTEST_SKIP() << namespace_problem();
        ASSERT_GE(checker_descriptor(), 0) << CHECKER_PATH;
        ASSERT_GE(checker_image_descriptor(), 0) << CHECKER_PATH;
        mount_tmp("size=64m");
    }

    void TearDown() override {
        if (!namespace_problem().empty()) return;
        EXPECT_EQ(chdir("/"), 0);
        umount2("/tmp", MNT_DETACH);
    }

    // Mounts a fresh tmpfs with these options over /tmp (stacked over what was there) and makes
    // the scratch directory in it.
    void mount_tmp(const std::string& options) {
        ASSERT_EQ(mount("tmpfs", "/tmp", "tmpfs", 0, ("mode=1777," + options).c_str()), 0) << strerror(errno);
        ASSERT_EQ(mkdir(scratch.c_str(), 0755), 0) << strerror(errno);
    }

    std::string file(const std::string& name, const std::string& content) {
        const std::string path = scratch + "/" + name;
        write_file(path, content);
        return path;
    }

    std::string missing(const std::string& name) const { return scratch + "/" + name; }

    std::string fifo(const std::string& name) {
        const std::string path = scratch + "/" + name;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        return path;
    }

    CheckerRun judge(const std::string& out, const std::string& ans, const RunOptions& options = {}) {
        return run_checker({missing("in"), out, ans}, options);
    }
};

// Every run: exited by itself, nothing on standard output.
void expect_clean_exit(const CheckerRun& run, int status) {
    EXPECT_FALSE(run.timed_out);
    EXPECT_TRUE(run.exited) << "ended by a signal";
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.out, "");
}

// A failure: status 0, exactly this diagnostic, and exactly this record.
void expect_failure(const CheckerRun& run, const std::string& diagnostic, const char* record) {
    expect_clean_exit(run, 0);
    EXPECT_EQ(run.err, diagnostic);
    EXPECT_EQ(read_file(record_path), record);
}

TEST_F(Checker, RightAndWrongLeaveExactRecords) {
    const auto right = judge(file("out", "1 2\r\n3\n"), file("ans", "12 3"));
    expect_clean_exit(right, 1);
    EXPECT_EQ(read_file(record_path), right_record);
    EXPECT_EQ(right.err, "");

    const auto wrong = judge(file("out", "abc"), file("ans", "abd"));
    expect_clean_exit(wrong, 0);
    EXPECT_EQ(read_file(record_path), wrong_record);
    EXPECT_EQ(wrong.err, "");
}

TEST_F(Checker, MatchRuleEndToEnd) {
    struct Case {
        const char* out;
        const char* ans;
        bool right;
    };
    const Case cases[] = {
        {"Hello\nWorld\n", "HelloWorld", true},
        {"A", "a", false},
        {"1.0", "1", false},
        {"ab", "abc", false},
        {"", " \t\r\n\v\f", true},
        {"caf\xc3\xa9", "caf\xe9", true},
    };
    for (const auto& c : cases) {
        const auto run = judge(file("out", c.out), file("ans", c.ans));
        expect_clean_exit(run, c.right ? 1 : 0);
        EXPECT_EQ(read_file(record_path), c.right ? right_record : wrong_record) << c.out << " / " << c.ans;
    }
}

TEST_F(Checker, WrongArgumentCountLeavesRecordAsItWas) {
    const std::string stale = "Stale verdict\n7\n";
    for (int count : {0, 1, 2, 4}) {
        std::vector<std::string> args;
        for (int i = 0; i < count; ++i) args.push_back(file("arg" + std::to_string(i), "x"));

        unlink(record_path);
        auto run = run_checker(args);
        expect_clean_exit(run, 0);
        EXPECT_EQ(run.err, usage_line);
        EXPECT_FALSE(exists(record_path)) << count << " arguments created the record";

        write_file(record_path, stale);
        run = run_checker(args);
        expect_clean_exit(run, 0);
        EXPECT_EQ(run.err, usage_line);
        EXPECT_EQ(read_file(record_path), stale) << count << " arguments touched the record";
    }
}

TEST_F(Checker, InputIsNeverOpened) {
    // Opening a FIFO with no writer blocks: a checker that opened <in> would time out.
    const auto run = run_checker({fifo("in"), file("out", "1"), file("ans", "1")}, within_seconds(5));
    expect_clean_exit(run, 1);
    EXPECT_EQ(read_file(record_path), right_record);
}

TEST_F(Checker, OpenFailuresInOrder) {
    write_file(record_path, "Right Output!!!\n10\n");  // a stale verdict must never show through
    auto run = judge(missing("out"), missing("ans"));
    expect_failure(run, "Can not open " + missing("out") + "!\n", out_failure_record);

    run = judge(file("out", "1"), missing("ans"));
    expect_failure(run, "Can not open " + missing("ans") + "!\n", ans_failure_record);

    // The path is reported exactly as the command line gave it.
    ASSERT_EQ(chdir(scratch.c_str()), 0);
    run = judge("./nothing/../out2", "ans");
    expect_clean_exit(run, 0);
    EXPECT_EQ(run.err, "Can not open ./nothing/../out2!\n");
}

TEST_F(Checker, DirectoryAsInputCannotBeOpened) {
    auto run = judge(scratch, file("ans", ""));
    expect_failure(run, "Can not open " + scratch + "!\n", out_failure_record);

    run = judge(file("out", ""), scratch);
    expect_failure(run, "Can not open " + scratch + "!\n", ans_failure_record);
}

TEST_F(Checker, ReadErrorIsReportedNotTakenForEndOfFile) {
    // The first read of /proc/self/mem fails with an I/O error.
    auto run = judge("/proc/self/mem", file("ans", ""));
    expect_failure(run, "Can not read /proc/self/mem!\n", out_failure_record);

    run = judge(file("out", ""), "/proc/self/mem");
    expect_failure(run, "Can not read /proc/self/mem!\n", ans_failure_record);
}

TEST_F(Checker, InputThatIsTheRecordCannotBeOpened) {
    // Emptying the record first would empty this input and make it match the empty answer.
    const std::string link = scratch + "/out-link";
    ASSERT_EQ(symlink(record_path, link.c_str()), 0);
    write_file(record_path, "stale\n");
    auto run = judge(link, file("ans", ""));
    expect_failure(run, "Can not open " + link + "!\n", out_failure_record);

    run = judge(file("out", ""), record_path);
    expect_failure(run, std::string("Can not open ") + record_path + "!\n", ans_failure_record);
}

TEST_F(Checker, ClosedStandardDescriptorsNeverReachTheRecord) {
    for (const std::vector<int>& closed : {std::vector<int>{0}, {1}, {2}, {0, 1, 2}}) {
        auto run = judge(file("out", "x"), file("ans", "x"), closing(closed));
        expect_clean_exit(run, 1);
        EXPECT_EQ(read_file(record_path), right_record);

        // A failure prints a diagnostic, which must not land in the record.
        run = judge(missing("absent"), file("ans", "x"), closing(closed));
        expect_clean_exit(run, 0);
        EXPECT_EQ(read_file(record_path), out_failure_record);
    }
}

// Whatever stands at the record path is replaced whole by a new record: its target is never
// touched, a right verdict planted there never shows through, and no private file is left.
TEST_F(Checker, RecordIsMadeAfreshOverAnyPlantedEntry) {
    const std::string target = file("target", right_record);
    const std::string out = file("out", "1"), wrong = file("wrong", "2");
    const auto expect_replaced = [&](const char* what) {
        const auto run = judge(out, wrong);
        expect_clean_exit(run, 0);
        EXPECT_EQ(run.err, "") << what;
        struct stat st = {};
        ASSERT_EQ(lstat(record_path, &st), 0) << what;
        ASSERT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid()) << what;
        EXPECT_EQ(read_file(record_path), wrong_record) << what;
        EXPECT_EQ(read_file(target), right_record) << what;
        EXPECT_EQ(private_files_left(), "") << what;
    };

    // Left by an unprivileged user, as a contestant's program or another user of /tmp could.
    ASSERT_EQ(symlink(target.c_str(), record_path), 0);
    ASSERT_EQ(lchown(record_path, nobody, nobody), 0);
    expect_replaced("symbolic link to a right verdict");

    unlink(record_path);
    ASSERT_EQ(symlink(missing("nowhere").c_str(), record_path), 0);
    expect_replaced("dangling symbolic link");
    EXPECT_FALSE(exists(missing("nowhere")));

    unlink(record_path);
    ASSERT_EQ(link(target.c_str(), record_path), 0);
    expect_replaced("hard link");

    unlink(record_path);
    ASSERT_EQ(mkfifo(record_path, 0666), 0);
    const int reader = open(record_path, O_RDONLY | O_NONBLOCK);
    expect_replaced("FIFO with a reader");
    close(reader);

    unlink(record_path);
    ASSERT_EQ(mknod(record_path, S_IFCHR | 0666, makedev(1, 3)), 0);
    expect_replaced("character device");

    // Another user's file, held open by its owner across the run: what the owner writes through
    // that descriptor afterwards must not reach the record.
    unlink(record_path);
    write_file(record_path, right_record);
    ASSERT_EQ(chown(record_path, nobody, nobody), 0);
    ASSERT_EQ(chmod(record_path, 0666), 0);
    const int held = open(record_path, O_WRONLY);
    ASSERT_GE(held, 0);
    expect_replaced("another user's file");
    ASSERT_EQ(pwrite(held, right_record, strlen(right_record), 0), static_cast<ssize_t>(strlen(right_record)));
    close(held);
    EXPECT_EQ(read_file(record_path), wrong_record);
}

// Where the record cannot be made afresh it cannot be opened: nothing written, neither input
// opened (the FIFO as <out> would block), and no private file left.
TEST_F(Checker, RecordThatCannotBeReplacedIsRefused) {
    const std::string out = fifo("out");
    const std::string ans = file("ans", "x");
    const auto expect_refused = [&](const char* what, const RunOptions& options) {
        const auto run = judge(out, ans, options);
        expect_clean_exit(run, 0);
        EXPECT_EQ(run.err, record_diagnostic) << what;
        EXPECT_EQ(private_files_left(), "") << what;
    };

    ASSERT_EQ(mkdir(record_path, 0777), 0);
    expect_refused("directory", within_seconds(5));
    rmdir(record_path);

    // Another user's record in the sticky /tmp, the checker unprivileged: writable by all, and
    // still neither written in place nor removed.
    write_file(record_path, "theirs\n");
    ASSERT_EQ(chmod(record_path, 0666), 0);
    RunOptions unprivileged = within_seconds(5);
    unprivileged.user = nobody;
    expect_refused("another user's file, checker unprivileged", unprivileged);
    EXPECT_EQ(read_file(record_path), "theirs\n");
    unlink(record_path);

    // A FIFO without a reader bound onto the path cannot be replaced and must not block.
    const std::string bound_fifo = fifo("bound");
    write_file(record_path, "");
    ASSERT_EQ(mount(bound_fifo.c_str(), record_path, nullptr, MS_BIND, nullptr), 0) << strerror(errno);
    expect_refused("a FIFO bound onto the path", within_seconds(5));
    umount2(record_path, MNT_DETACH);
    unlink(record_path);

    // A file with another name bound onto the path: written in place, it would change under that
    // name too.
    const std::string linked = file("linked", "the other name's bytes\n");
    ASSERT_EQ(link(linked.c_str(), (scratch + "/other-name").c_str()), 0);
    write_file(record_path, "");
    ASSERT_EQ(mount(linked.c_str(), record_path, nullptr, MS_BIND, nullptr), 0) << strerror(errno);
    expect_refused("a file with another name bound onto the path", within_seconds(5));
    EXPECT_EQ(read_file(scratch + "/other-name"), "the other name's bytes\n");
    umount2(record_path, MNT_DETACH);
    unlink(record_path);

    ASSERT_EQ(mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << strerror(errno);
    expect_refused("read-only /tmp", within_seconds(5));
}

// A sandbox may bind a file of the judge's onto the record path: that file is written in place,
// also when /tmp itself is read-only.
TEST_F(Checker, RecordBoundOntoThePathIsWrittenInPlace) {
    const std::string judges_file = file("judges-record", "stale and longer than a verdict\n");
    write_file(record_path, "");
    ASSERT_EQ(mount(judges_file.c_str(), record_path, nullptr, MS_BIND, nullptr), 0) << strerror(errno);
    auto run = judge(file("out", "1"), file("ans", "1"));
    expect_clean_exit(run, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_file(judges_file), right_record);

    ASSERT_EQ(mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0) << strerror(errno);
    run = judge(scratch + "/out", missing("absent"));
    expect_clean_exit(run, 0);
    EXPECT_EQ(read_file(judges_file), ans_failure_record);
    EXPECT_EQ(private_files_left(), "");
    umount2(record_path, MNT_DETACH);
}

TEST_F(Checker, RecordModeIsNeverWritableByOthers) {
    const mode_t previous = umask(0);
    write_file(record_path, "old\n");
    ASSERT_EQ(chmod(record_path, 0666), 0);
    const auto run = judge(file("out", "1"), file("ans", "1"));
    umask(previous);
    expect_clean_exit(run, 1);
    struct stat st = {};
    ASSERT_EQ(stat(record_path, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// A stale right verdict must not survive a run that fails soon after the record was made: with
// four descriptors, the record takes the last one and <out> cannot be opened.
TEST_F(Checker, StaleVerdictNeverSurvivesTooFewDescriptors) {
    write_file(record_path, right_record);
    RunOptions few = within_seconds(5);
    few.limits = {{RLIMIT_NOFILE, 4}};
    const std::string out = file("out", "1");
    const auto run = judge(out, file("ans", "1"), few);
    expect_failure(run, "Can not open " + out + "!\n", out_failure_record);
}

// Where the record cannot be made afresh (no descriptor or inode left, a rename refused, every
// private name taken), the old entry is removed: a right verdict planted before a wrong output
// never stands in for this run's. Nothing may reach the record through descriptor 2 either.
TEST_F(Checker, StaleVerdictNeverStandsWhenTheRecordCannotBeMade) {
    const std::string out = file("out", "1"), wrong = file("wrong", "2");
    const auto expect_removed = [&](const char* what, const RunOptions& options, const std::string& diagnostic) {
        write_file(record_path, right_record);
        const auto run = judge(out, wrong, options);
        expect_clean_exit(run, 0);
        EXPECT_EQ(run.err, diagnostic) << what;
        EXPECT_FALSE(exists(record_path)) << what << ": " << read_file(record_path).value_or("");
        EXPECT_EQ(private_files_left(), "") << what;
    };
#ifndef CHECKER_EMULATOR
    // Neither an emulator nor a dynamic executable (the sanitizers' build) starts with three
    // descriptors.
    if (CHECKER_STATIC) {
        RunOptions three = within_seconds(5);
        three.limits = {{RLIMIT_NOFILE, 3}};
        expect_removed("three descriptors, all open", three, record_diagnostic);
        three.closed_descriptors = {2};  // the private file would take it, then the diagnostics
        expect_removed("three descriptors, standard error closed", three, "");
    }
#endif

    RunOptions renames = within_seconds(5);
    renames.failing_calls = {SYS_rename, SYS_renameat, SYS_renameat2};
    expect_removed("rename refused", renames, record_diagnostic);

    RunOptions all_names_taken = within_seconds(5);
    all_names_taken.failing_calls = {SYS_getrandom};
    all_names_taken.failing_errno = ENOSYS;
    all_names_taken.as_pid_one = true;
    for (int attempt = 0; attempt < 8; ++attempt)
        write_file(std::string(record_path) + ".000000010000000" + std::to_string(attempt), "planted");
    write_file(record_path, right_record);
    const auto run = judge(out, wrong, all_names_taken);
    expect_clean_exit(run, 0);
    EXPECT_EQ(run.err, record_diagnostic);
    EXPECT_FALSE(exists(record_path)) << "every private name planted";

    // Last, /tmp out of inodes, filled by another user.
    mount_tmp("size=1m,nr_inodes=64");
    const std::string small_out = file("out", "1"), small_wrong = file("wrong", "2");
    write_file(record_path, right_record);
    for (int k = 0;; ++k) {
        const int fd = open(("/tmp/filler" + std::to_string(k)).c_str(), O_WRONLY | O_CREAT, 0600);
        if (fd < 0) break;
        close(fd);
    }
    const auto starved = judge(small_out, small_wrong);
    expect_clean_exit(starved, 0);
    EXPECT_EQ(starved.err, record_diagnostic);
    EXPECT_FALSE(exists(record_path)) << "no inode left";
}

// The private name is taken exclusively: one planted at the name the checker tries first (known
// when random bytes fail and the checker is the first process of its PID namespace), and held
// open, is passed over; the record is a new file.
TEST_F(Checker, PlantedPrivateNameIsNeverTheRecord) {
    const std::string first_name = std::string(record_path) + ".0000000100000000";
    write_file(first_name, "planted");
    const int held = open(first_name.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    RunOptions options = within_seconds(5);
    options.failing_calls = {SYS_getrandom};
    options.failing_errno = ENOSYS;
    options.as_pid_one = true;
    const auto run = judge(file("out", "1"), file("wrong", "2"), options);
    expect_clean_exit(run, 0);
    struct stat record = {}, planted = {};
    ASSERT_EQ(stat(record_path, &record), 0);
    ASSERT_EQ(fstat(held, &planted), 0);
    EXPECT_NE(record.st_ino, planted.st_ino);
    ASSERT_EQ(pwrite(held, right_record, strlen(right_record), 0), static_cast<ssize_t>(strlen(right_record)));
    close(held);
    EXPECT_EQ(read_file(record_path), wrong_record);
}

TEST_F(Checker, RecordThatCannotBeWrittenIsReported) {
    mount_tmp("size=16k");
    const std::string right_out = file("out", "1"), right_ans = file("ans", "1"), wrong_ans = file("wrong", "2");
    std::string filler(4096, 'f');
    const int fd = open("/tmp/filler", O_WRONLY | O_CREAT, 0600);
    while (write(fd, filler.data(), filler.size()) > 0) {
    }
    close(fd);

    auto run = judge(right_out, right_ans);
    expect_clean_exit(run, 1);  // the status still follows the score
    EXPECT_EQ(run.err, "Can not write /tmp/_eval.score!\n");

    run = judge(right_out, wrong_ans);
    expect_clean_exit(run, 0);
    EXPECT_EQ(run.err, "Can not write /tmp/_eval.score!\n");
}

TEST_F(Checker, UnwritableStandardErrorChangesNothing) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    close(pipe_ends[0]);  // a write to this pipe would raise SIGPIPE
    auto run = judge(missing("out"), file("ans", "x"), stderr_to(pipe_ends[1]));
    expect_clean_exit(run, 0);
    EXPECT_EQ(read_file(record_path), out_failure_record);
    close(pipe_ends[1]);

    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    run = judge(file("out", "x"), missing("absent"), stderr_to(full));
    expect_clean_exit(run, 0);
    EXPECT_EQ(read_file(record_path), ans_failure_record);
    close(full);
}

TEST_F(Checker, PipeIsJudgedAsItsBytesArrive) {
    // The writer keeps the FIFO open: a difference must be reported without waiting for its end.
    const std::string out = fifo("out");
    const int writer = open(out.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "12 x", 4), 4);
    const auto run = judge(out, file("ans", "12 y 34"), within_seconds(5));
    close(writer);
    expect_clean_exit(run, 0);
    EXPECT_EQ(read_file(record_path), wrong_record);
}

// A FIFO output opened before its writer comes: the checker waits for the writer (an output
// opened without waiting would read as empty).
TEST_F(Checker, FifoOutputWaitsForItsWriter) {
    const std::string out = fifo("out");
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        // Without blocking: a checker that did not wait is gone, and nobody would read.
        const int fd = open(out.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return;
        EXPECT_EQ(write(fd, "1 2", 3), 3);
        close(fd);
    });
    const auto run = judge(out, file("ans", "12"), within_seconds(5));
    writer.join();
    expect_clean_exit(run, 1);
    EXPECT_EQ(read_file(record_path), right_record);
}

// On a processor without AVX (emulated), inputs past the probe's threshold are compared with the
// scalar kernels: a vector set chosen there would die of an illegal instruction.
TEST_F(Checker, ProcessorWithoutVectorSetsFallsBackToScalar) {
#ifdef CHECKER_EMULATOR
    GTEST_SKIP() << "the checker under test is already emulated";
#else
    if (QEMU_X86_64[0] == '\0') GTEST_SKIP() << "needs qemu-x86_64 (apt-get install qemu-user)";
    if (!CHECKER_STATIC) GTEST_SKIP() << "this build's checker is not static (sanitizers)";
    const int checker = checker_image_descriptor();
    static const int emulator = above_standard(open(QEMU_X86_64, O_PATH | O_CLOEXEC));
    std::string out, ans;
    for (int line = 0; out.size() < (64 << 10); ++line) {
        out += std::to_string(line) + " \n";
        ans += std::to_string(line) + "\r\n";
    }
    const std::string out_path = file("out", out), ans_path = file("ans", ans);
    out[out.size() - 4] = 'x';
    const std::string wrong_path = file("wrong", out);
    RunOptions options = within_seconds(60);
    options.inherited = checker;
    const std::string program = "/proc/self/fd/" + std::to_string(checker);
    auto run =
        run_program(QEMU_X86_64, emulator, {"-cpu", "Nehalem", program, missing("in"), out_path, ans_path}, options);
    expect_clean_exit(run, 1);
    EXPECT_EQ(read_file(record_path), right_record) << run.err;
    run =
        run_program(QEMU_X86_64, emulator, {"-cpu", "Nehalem", program, missing("in"), wrong_path, ans_path}, options);
    expect_clean_exit(run, 0);
    EXPECT_EQ(read_file(record_path), wrong_record) << run.err;
#endif
}

// One file is known by its device and its inode together: two files on two file systems may
// share an inode number.
TEST_F(Checker, SameInodeOnAnotherDeviceIsAnotherFile) {
    const TwinInodes twins("same 1");
    if (!twins.unavailable().empty()) GTEST_SKIP() << twins.unavailable();
    const auto run = judge(twins.path(0), twins.path(1));
    expect_clean_exit(run, 1);
    EXPECT_EQ(read_file(record_path), right_record);
}

// The answer compared with itself is always right: an output that is the answer, by a link or
// by the same path, is an output that cannot be opened.
TEST_F(Checker, OutputThatIsTheAnswerCannotBeOpened) {
    const std::string ans = file("ans", "42");
    const std::string symbolic = scratch + "/out-symlink", hard = scratch + "/out-hardlink";
    ASSERT_EQ(symlink(ans.c_str(), symbolic.c_str()), 0);
    ASSERT_EQ(link(ans.c_str(), hard.c_str()), 0);
    for (const std::string& out : {symbolic, hard, ans}) {
        const auto run = judge(out, ans);
        expect_failure(run, "Can not open " + out + "!\n", out_failure_record);
    }
}

// Standard input closed: /dev/stdin would be the checker's own placeholder, an empty output,
// right against a blank answer.
TEST_F(Checker, StandardInputClosedIsNoOutput) {
    const auto run = judge("/dev/stdin", file("ans", " \n"), closing({0}));
    expect_failure(run, "Can not open /dev/stdin!\n", out_failure_record);
}

// An unprivileged checker in a chroot with no /dev/null and a root directory it cannot read,
// standard error closed: the diagnostic must not land in the record.
TEST_F(Checker, DiagnosticNeverLandsInTheRecordInABareChroot) {
    const std::string jail = scratch + "/jail";
    ASSERT_EQ(mkdir(jail.c_str(), 0711), 0);
    ASSERT_EQ(mkdir((jail + "/tmp").c_str(), 01777), 0);
    ASSERT_EQ(chmod((jail + "/tmp").c_str(), 01777), 0);
    RunOptions options = closing({2});
    options.root = jail;
    options.user = nobody;
    const auto run = run_checker({"/data/in", "/data/missing", "/data/ans"}, options);
    if (run.exited && run.status == 127) GTEST_SKIP() << "this build's checker is not static";
    expect_clean_exit(run, 0);
    EXPECT_EQ(read_file(jail + record_path), out_failure_record);
}

// A file-size limit fails the write instead of killing the checker: the status still follows
// the score, and a verdict that does not fit whole leaves the record empty.
TEST_F(Checker, FileSizeLimitFailsTheWriteNotTheRun) {
    const std::string out = file("out", "1"), ans = file("ans", "1"), wrong = file("wrong", "2");
    for (const rlim_t bytes : {0, 16}) {
        // Standard error to a pipe: the limit would cut a captured file as well.
        int diagnostics[2];
        ASSERT_EQ(pipe2(diagnostics, O_NONBLOCK), 0);
        RunOptions limited = stderr_to(diagnostics[1]);
        limited.limits = {{RLIMIT_FSIZE, bytes}};
        auto run = judge(out, ans, limited);
        expect_clean_exit(run, 1);
        EXPECT_EQ(read_file(record_path), "") << bytes;

        run = judge(out, wrong, limited);
        expect_clean_exit(run, 0);
        EXPECT_EQ(read_file(record_path), bytes == 0 ? "" : wrong_record) << bytes;  // 15 bytes fit in 16
        close(diagnostics[1]);
        const std::string written = slurp_descriptor(diagnostics[0]);
        close(diagnostics[0]);
        EXPECT_EQ(written, std::string("Can not write /tmp/_eval.score!\n") +
                               (bytes == 0 ? "Can not write /tmp/_eval.score!\n" : ""))
            << bytes;
    }
}

}  // namespace
