// Black-box tests: the built checker, run as a judge runs it, in a mount namespace of its own with
// a private /tmp, so that the fixed record path never touches the machine's /tmp and the tests
// may fill /tmp or make it read-only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "run_checker.h"

namespace {

constexpr char record_path[] = "/tmp/_eval.score";
constexpr char usage_line[] = "Usage: quarn_e <in> <out> <ans>\n";
constexpr char right_record[] = "Right Output!!!\n10\n";
constexpr char wrong_record[] = "Wrong Answer\n0\n";
constexpr char out_failure_record[] = "Can not open player's output file!\n0\n";
constexpr char ans_failure_record[] = "Can not open standard answer!\n0\n";
constexpr char record_diagnostic[] = "Can not open /tmp/_eval.score!\n";

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

// Each hazard planted at the record path must leave it untouched, report the record as
// unopenable, and open neither input (the FIFO as <out> would block).
TEST_F(Checker, UnsafeRecordPathIsNeverWritten) {
    const std::string target = file("target", "precious\n");
    const std::string out = fifo("out");
    const std::string ans = file("ans", "x");
    const auto expect_refused = [&](const char* what) {
        const auto run = judge(out, ans, within_seconds(5));
        expect_clean_exit(run, 0);
        EXPECT_EQ(run.err, record_diagnostic) << what;
        EXPECT_EQ(read_file(target), "precious\n") << what;
    };

    ASSERT_EQ(symlink(target.c_str(), record_path), 0);
    expect_refused("symbolic link to a file");
    unlink(record_path);

    ASSERT_EQ(symlink(missing("nowhere").c_str(), record_path), 0);
    expect_refused("dangling symbolic link");
    EXPECT_FALSE(exists(missing("nowhere")));
    unlink(record_path);

    const std::string second_name = "/tmp/other-name";
    write_file(second_name, "precious\n");
    ASSERT_EQ(link(second_name.c_str(), record_path), 0);
    expect_refused("hard link");
    EXPECT_EQ(read_file(second_name), "precious\n");
    unlink(record_path);

    ASSERT_EQ(mkfifo(record_path, 0666), 0);
    expect_refused("FIFO without a reader");
    const int reader = open(record_path, O_RDONLY | O_NONBLOCK);
    expect_refused("FIFO with a reader");
    close(reader);
    unlink(record_path);

    ASSERT_EQ(mknod(record_path, S_IFCHR | 0666, makedev(1, 3)), 0);
    expect_refused("character device");
    unlink(record_path);

    ASSERT_EQ(mkdir(record_path, 0777), 0);
    expect_refused("directory");
    rmdir(record_path);

    ASSERT_EQ(mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << strerror(errno);
    expect_refused("read-only /tmp");
}

TEST_F(Checker, RecordIsCreatedWithUmaskModeAndEmptiedWhenStale) {
    const mode_t previous = umask(027);
    auto run = judge(file("out", "1"), file("ans", "1"));
    umask(previous);
    expect_clean_exit(run, 1);
    struct stat st = {};
    ASSERT_EQ(stat(record_path, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    write_file(record_path, std::string(1000, 'z'));
    run = judge(file("out", "1"), file("ans", "2"));
    expect_clean_exit(run, 0);
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

}  // namespace
