// Conformance of the front-ends to their protocols, as the judges' own tools see them: each row
// is one call, made in a scratch directory prepared the same way every time, and everything it
// must leave (exit status, standard output, standard error, the bytes of the files it writes).
// Every table runs against the built command and against the drop-ins compiled alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "judge_models.h"
#include "run_program.h"

namespace {

// The scratch directory every row starts from; paths in rows are relative to it. Besides these
// files: link, a link to ans; dir, a directory; fb, an empty directory.
constexpr char right_text[] = "1 2\r\n3\t4";
const std::pair<const char*, const char*> scratch_files[] = {
    {"ans", "1 2\n3 4\n"},      // the answer
    {"right", right_text},      // its visible bytes, with other blanks
    {"wrong", "1 2\n\n3 5\n"},  // one byte off
    {"short", "1 2\n3"},        // ends early
    {"longer", "1 2 3 4 5"},    // goes on past the answer
    {"empty", ""},              // no byte at all
    // For the notes on what the rule ignored:
    {"split", "12\n34\n"},  // the answer's bytes, other tokens
    {"odd",
     "\xEF\xBB\xBF"
     "1\x01"
     "2\n3\xE2\x80\x99"
     "4\x7F"},                                 // a mark, control, non-ASCII, DEL
    {"odd_wrong", "1\x01 2\n3 5\x7F\n"},       // control before the difference, DEL after
    {"blank", " \n"},                          // no visible byte
    {"utf8", "1 \xE4\xBD\xA0\xE5\xA5\xBD\n"},  // mostly bytes from 0x80 up
};
// What the jury is told of them (validator and cmp lines; CMS has no excerpts).
constexpr char split_note[] =
    "the files split the same visible bytes into tokens differently at 2 places (as \"1 2\" against \"12\"); the "
    "first at visible byte 2: line 1, column 2 of the output, line 1, column 3 of the answer";
constexpr char odd_notes[] =
    "note: the output starts with a UTF-8 byte-order mark\n"
    "note: the output holds 3 bytes from 0x80 up (not ASCII), the first at line 2, column 2\n"
    "note: the output holds 1 control byte other than white space, the first at line 1, column 5\n"
    "note: the output holds 1 DEL byte (0x7F), the first at line 2, column 6\n";
constexpr char odd_wrong_notes[] =
    "note: the output holds 1 control byte other than white space, the first at line 1, column 2\n"
    "note: these notes cover the output up to its first difference and the answer to its end\n";
const std::string odd_wrong_place =
    "first difference at visible byte 4: line 2, column 3 of the output; line 2, column 3 of the answer";
constexpr char blank_note[] = "note: the answer has no visible byte: any output of white space alone matches it\n";
constexpr char utf8_notes[] =
    "note: the output holds 6 bytes from 0x80 up (not ASCII), the first at line 1, column 3\n"
    "note: the answer holds 6 bytes from 0x80 up (not ASCII), the first at line 1, column 3\n"
    "note: the answer is 66% bytes from 0x80 up: the rule ignores them and compares only its ASCII\n";
constexpr char right_message[] = "4 visible bytes match";
constexpr char wrong_message[] =
    "first difference at visible byte 4: line 3, column 3 of the output; line 2, column 3 of the answer";

using Files = std::vector<std::pair<std::string, std::optional<std::string>>>;  // path: bytes, or absent

struct Row {
    const char* what;
    std::vector<std::string> args = {};
    int status;
    std::string out = {};
    std::string err = {};
    Files files = {};
    // Plants files and sets options before the call; checks what the table cannot say after it.
    using Prepare = std::function<void(const std::string& dir, RunOptions&)>;
    Prepare prepare = {};
    std::function<void(const std::string& dir)> verify = {};
    const char* stdin_path = nullptr;
    bool needs_static = false;  // fault injection on descriptor 3, which a dynamic loader uses
    // Signals, FIFOs, /proc, limits and fault injection, which Windows has not (or not so).
    bool posix_only = false;
    bool windows_only = false;  // paths with backslashes
};

struct Variant {
    const char* name;
    const char* path;  // empty when this build has no such program (a compiler missing)
    bool is_static;
    bool under_wine = false;  // a Windows executable, run by wine
};

void PrintTo(const Variant& variant, std::ostream* os) { *os << variant.name; }

std::string test_name(const testing::TestParamInfo<Variant>& info) { return info.param.name; }

// A protocol's command, and its drop-in as the judges compile it (tests/CMakeLists.txt): Hydro's
// line with g++ and clang++, an older HUSTOJ's g++ line, and MinGW-w64 where there is one.
::testing::internal::ParamGenerator<Variant> builds(const char* command, const char* gxx, const char* clang,
                                                    const char* hustoj_line, const char* mingw64 = nullptr) {
    std::vector<Variant> variants = {{"command", command, COMMANDS_STATIC},
                                     {"gxx_dropin", gxx, false},
                                     {"clang_dropin", clang, false},
                                     {"hustoj_line_dropin", hustoj_line, false}};
    if (mingw64 != nullptr) variants.push_back({"mingw64_dropin_under_wine", mingw64, false, true});
    return ::testing::ValuesIn(variants);
}

// The bytes of the file at path itself: a link, a FIFO or anything but a plain file there is
// never followed or opened (a FIFO would block the test), and reads as what it is.
std::optional<std::string> read_file(const std::string& path) {
    struct stat st = {};
    if (lstat(path.c_str(), &st) != 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) return "(not a plain file)";
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool is_regular_file(const std::string& path) {
    struct stat st = {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void prepare_scratch(const ScratchDirectory& scratch) {
    for (const auto& [name, content] : scratch_files) scratch.file(name, content);
    const std::string& dir = scratch.path();
    ASSERT_EQ(symlink("ans", (dir + "/link").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/dir").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/fb").c_str(), 0755), 0);
}

// The commands are linked against musl, the drop-ins against glibc: one text for EIO and
// ENAMETOOLONG.
std::string same_words(std::string text) {
    for (size_t at; (at = text.find("I/O error")) != std::string::npos;) text.replace(at, 9, "Input/output error");
    for (size_t at; (at = text.find("Filename too long")) != std::string::npos;)
        text.replace(at, 17, "File name too long");
    for (size_t at; (at = text.find("Too many open files")) != std::string::npos;)
        text.replace(at, 19, "No file descriptors available");
    return text;
}

// Windows writes each newline of standard error and of a text file as CR LF.
std::string without_carriage_returns(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

// The tests' own wine prefix, in the build tree, made on the first Windows run (wine prints its
// own lines then) and kept for the next test processes, which the tests' resource lock runs one
// at a time; the server is stopped when each process ends.
class WinePrefix {
public:
    static void prepare() { static WinePrefix prefix; }
    ~WinePrefix() { (void)system("wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1"); }

private:
    WinePrefix() {
        setenv("WINEPREFIX", WINE_PREFIX_DIR, 1);
        setenv("WINEDEBUG", "-all", 1);
        struct stat made = {};
        if (stat(WINE_PREFIX_DIR "/system.reg", &made) == 0) return;
        // A prefix left half made by an interrupted run is made anew.
        (void)system("rm -rf " WINE_PREFIX_DIR);
        EXPECT_EQ(system("wineboot -i >/dev/null 2>&1"), 0) << "wineboot -i";
        // The prefix is finished only when its server has exited: a program started before may
        // fail to start (exit 1, no word), as one did in a fresh build.
        (void)system("wineserver -w >/dev/null 2>&1");
    }
};

// What a test does with a row's run besides the table's checks: the judges' models read it.
using Observer = std::function<void(const CheckerRun& run, const std::string& dir)>;

void check_row(const Variant& variant, const Row& row, const Observer& observe = {}) {
    SCOPED_TRACE(row.what);
    if (row.needs_static && !variant.is_static) return;
    if (row.posix_only && variant.under_wine) return;
    if (row.windows_only && !variant.under_wine) return;
    const ScratchDirectory scratch;
    const std::string& dir = scratch.path();
    ASSERT_FALSE(dir.empty());
    prepare_scratch(scratch);
    RunOptions options;
    options.directory = dir;
    options.timeout = std::chrono::seconds(10);
    int input = -1;
    if (row.stdin_path != nullptr) {
        input = above_standard(open((dir + "/" + row.stdin_path).c_str(), O_RDONLY | O_CLOEXEC));
        options.stdin_descriptor = input;
    }
    if (row.prepare) row.prepare(dir, options);
    std::vector<std::string> args = row.args;
    const char* path = variant.path;
    if (variant.under_wine) {
        args.insert(args.begin(), variant.path);
        path = WINE_PATH;
    }
    // wine is a script: started by its path.
    const int program = variant.under_wine ? -1 : above_standard(open(path, O_PATH | O_CLOEXEC));
    ASSERT_TRUE(variant.under_wine || program >= 0) << path;
    CheckerRun run = run_program(path, program, args, options);
    if (program >= 0) close(program);
    if (variant.under_wine) run.err = without_carriage_returns(run.err);
    if (input >= 0) close(input);
    if (row.stdin_path == nullptr && options.stdin_descriptor) close(*options.stdin_descriptor);
    EXPECT_FALSE(run.timed_out);
    EXPECT_TRUE(run.exited) << "ended by a signal";
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(same_words(run.out), row.out);
    EXPECT_EQ(same_words(run.err), row.err);
    for (const auto& [path, content] : row.files) {
        std::optional<std::string> written = read_file(dir + "/" + path);
        if (written && variant.under_wine) written = without_carriage_returns(*written);
        EXPECT_EQ(written ? std::optional(same_words(*written)) : written, content) << path;
    }
    if (row.verify) row.verify(dir);
    if (observe) observe(run, dir);
}

// Standard input a pipe that a thread fills from a scratch file a byte a millisecond, then
// closes: the output is read as it arrives.
Row::Prepare slowly_piped(const char* name) {
    return [name](const std::string& dir, RunOptions& options) {
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        options.stdin_descriptor = above_standard(ends[0]);
        std::thread([content = *read_file(dir + "/" + name), end = ends[1]] {
            for (const char c : content) {
                if (write(end, &c, 1) != 1) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            close(end);
        }).detach();
    };
}

// A pipe whose reader is gone: writing to it raises SIGPIPE.
int broken_pipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    close(ends[0]);
    return above_standard(ends[1]);
}

RunOptions& with_file_size_limit(RunOptions& options, rlim_t bytes) {
    options.limits.emplace_back(RLIMIT_FSIZE, bytes);
    return options;
}

class Protocol : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        const Variant& variant = GetParam();
        const bool missing = variant.path[0] == '\0' || (variant.under_wine && WINE_PATH[0] == '\0');
        if (missing && getenv("CI") != nullptr) FAIL() << variant.name << " is not built: CI installs what it needs";
        if (missing)
            GTEST_SKIP() << variant.name << " is not built: its compiler is missing"
                         << (variant.under_wine ? " (apt-get install g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine)"
                                                : "");
        if (variant.under_wine) WinePrefix::prepare();
    }
    void check(const std::vector<Row>& rows) {
        for (const Row& row : rows) check_row(GetParam(), row);
    }
};

// The answer's second line, which no message may show.
constexpr char answer_line[] = "3 4";

void expect_no_answer_byte(const std::string& message) {
    EXPECT_EQ(message.find(answer_line), std::string::npos) << "a message shows the answer: " << message;
}

// ---- testlib: facts from testlib 0.9.45 and its checkers run side by side with this one.

const std::string usage =
    "usage: filterspace_testlib [--testset T] [--group G] input output answer [result_file [-appes]]";
const std::string replaced_output =
    "the output file link is the answer file under another name: an answer compared with itself is always right";

Row::Prepare writing(const std::string& name, const std::string& content) {
    return [name, content](const std::string& dir, RunOptions&) { std::ofstream(dir + "/" + name) << content; };
}

// What a Windows C library could get wrong reading as text, and what a file system there names
// otherwise; on every system.
std::vector<Row> byte_rows(int wa, int pe) {
    const std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";
    std::string long_ones;
    for (int k = 0; k < 40000; ++k) long_ones += "1 ";
    return {
        // Read as text, the output would end at the Ctrl-Z and be right.
        {.what = "Ctrl-Z before a wrong tail",
         .args = {"in", "ctrlz", "ans"},
         .status = wa,
         .err = "wrong answer the output goes on past the answer's 4 visible bytes, at line 3, column 2; the answer "
                "ended at line 3, column 1\n",
         .prepare = writing("ctrlz",
                            "1 2\n3 4\n\x1a"
                            "5")},
        {.what = "CRLF against CRLF",
         .args = {"in", "crlf", "ans"},
         .status = wa,
         .err = "wrong answer first difference at visible byte 4: line 2, column 3 of the output; line 2, column 3 of "
                "the answer\n",
         .prepare = writing("crlf", "1 2\r\n3 5\r\n")},
        // Past the probe's threshold: the vector kernels.
        {.what = "over 64 KiB",
         .args = {"in", "long", "ans"},
         .status = wa,
         .err = "wrong answer first difference at visible byte 40001: line 1, column 80001 of the output; line 1, "
                "column 80001 of the answer\n",
         .prepare =
             [long_ones](const std::string& dir, RunOptions&) {
                 std::ofstream(dir + "/long") << long_ones + "2\n";
                 std::ofstream(dir + "/ans") << long_ones + "3\n";
             }},
        // What the rule ignored is the jury's: never in a message the contestant may read.
        {.what = "no notes: tokens split differently and ignored bytes",
         .args = {"in", "split", "odd"},
         .status = 0,
         .err = "ok 4 visible bytes match\n"},
        {.what = "a path in Cyrillic",
         .args = {"in", "\u0432\u044b\u0432\u043e\u0434.txt", "ans"},
         .status = 0,
         .err = "ok " + std::string(right_message) + "\n",
         .prepare = writing("\u0432\u044b\u0432\u043e\u0434.txt", right_text)},
        {.what = "a missing path in Cyrillic",
         .args = {"in", "\u043d\u0435\u0442.txt", "ans"},
         .status = pe,
         .err = "wrong output format Output file not found: \"\u043d\u0435\u0442.txt\"\n"},
    };
}

// The exit codes are testlib's unless the drop-in is built for ejudge.
const std::string testlib_help =
    "filterspace_testlib: a testlib-style checker by the visible-byte rule: only the bytes 0x21 to 0x7E of the output "
    "and the answer count, every other byte is ignored wherever it stands.\n\nProgram must be run with the following "
    "arguments: \n    [--testset testset] [--group group] <input-file> <output-file> <answer-file> [<report-file> "
    "[<-appes>]]\n\n";

void one_and_one_two(const std::string& dir, RunOptions&) {
    std::ofstream(dir + "/one") << " 1\n";
    std::ofstream(dir + "/one_two") << " 1\n2";
}

std::vector<Row> testlib_rows(int wa, int pe, int fail) {
    return {
        {.what = "right",
         .args = {"in", "right", "ans"},
         .status = 0,
         .err = "ok " + std::string(right_message) + "\n"},
        {.what = "wrong",
         .args = {"in", "wrong", "ans"},
         .status = wa,
         .err = "wrong answer " + std::string(wrong_message) + "\n"},
        // The output is the contestant's: trouble with it is a presentation error, the output
        // checked first.
        {.what = "missing output",
         .args = {"in", "missing", "ans"},
         .status = pe,
         .err = "wrong output format Output file not found: \"missing\"\n"},
        {.what = "missing output and answer",
         .args = {"in", "missing", "missing"},
         .status = pe,
         .err = "wrong output format Output file not found: \"missing\"\n"},
        {.what = "output a directory",
         .args = {"in", "dir", "ans"},
         .status = pe,
         .err = "wrong output format cannot open the output file dir: Is a directory\n"},
        // An I/O error comes from the judge's machine, not from the contestant's file.
        {.what = "output unreadable",
         .args = {"in", "/proc/self/mem", "ans"},
         .status = fail,
         .err = "FAIL cannot read the output file /proc/self/mem: Input/output error\n",
         .posix_only = true},
        {.what = "output of unknown status",
         .args = {"in", "right", "ans"},
         .status = pe,
         .err = "wrong output format cannot open the output file right: Input/output error\n",
         .prepare = [](const std::string&, RunOptions& options) { fail_status_of(options, 3); },
         .needs_static = true,
         .posix_only = true},
        // The answer is the judge's: trouble with it is a failure.
        {.what = "missing answer",
         .args = {"in", "right", "missing"},
         .status = fail,
         .err = "FAIL cannot open the answer file missing: No such file or directory\n"},
        {.what = "answer a directory",
         .args = {"in", "right", "dir"},
         .status = fail,
         .err = "FAIL cannot open the answer file dir: Is a directory\n"},
        {.what = "answer unreadable",
         .args = {"in", "right", "/proc/self/mem"},
         .status = fail,
         .err = "FAIL cannot read the answer file /proc/self/mem: Input/output error\n",
         .posix_only = true},
        // A status that cannot be read never skips the check that the output is not the answer.
        {.what = "answer of unknown status",
         .args = {"in", "link", "ans"},
         .status = fail,
         .err = "FAIL cannot open the answer file ans: Input/output error\n",
         .prepare = [](const std::string&, RunOptions& options) { fail_status_of(options, 4); },
         .posix_only = true},
        // One path twice is the judge's call; another name is a link the contestant left.
        {.what = "one path twice", .args = {"in", "ans", "ans"}, .status = 0, .err = "ok 4 visible bytes match\n"},
        {.what = "output a link to the answer",
         .args = {"in", "link", "ans"},
         .status = pe,
         .err = "wrong output format " + replaced_output + "\n"},
        // --testset and --group with their values are set aside wherever they stand.
        {.what = "testset and group",
         .args = {"--testset", "1", "in", "--group", "g", "right", "--group", "", "ans"},
         .status = 0,
         .err = "ok " + std::string(right_message) + "\n"},
        {.what = "testset empty",
         .args = {"in", "right", "ans", "--testset", ""},
         .status = fail,
         .err = "FAIL --testset needs a non-empty value; " + usage + "\n"},
        {.what = "testset last",
         .args = {"in", "right", "ans", "--testset"},
         .status = fail,
         .err = "FAIL --testset needs a non-empty value; " + usage + "\n"},
        {.what = "group last",
         .args = {"in", "right", "ans", "--group"},
         .status = fail,
         .err = "FAIL --group needs a value; " + usage + "\n"},
        {.what = "two arguments",
         .args = {"in", "right"},
         .status = fail,
         .err = "FAIL too few arguments; " + usage + "\n"},
        // As testlib's checkers: the help on standard error, and a failure.
        {.what = "--help", .args = {"--help"}, .status = fail, .err = testlib_help},
        // One visible byte is one byte, not "1 visible bytes".
        {.what = "one visible byte",
         .args = {"in", "one", "one"},
         .status = 0,
         .err = "ok 1 visible byte matches\n",
         .prepare = one_and_one_two},
        {.what = "ended after one visible byte",
         .args = {"in", "one", "one_two"},
         .status = wa,
         .err = "wrong answer the output ended after 1 visible byte, at line 2, column 1; the answer goes on at line "
                "2, column 1\n",
         .prepare = one_and_one_two},
        {.what = "the answer's one visible byte",
         .args = {"in", "one_two", "one"},
         .status = wa,
         .err = "wrong answer the output goes on past the answer's 1 visible byte, at line 2, column 1; the answer "
                "ended at line 2, column 1\n",
         .prepare = one_and_one_two},
        {.what = "six arguments",
         .args = {"in", "right", "ans", "result", "-appes", "more"},
         .status = fail,
         .err = "FAIL too many arguments; " + usage + "\n",
         .files = {{"result", std::nullopt}}},
        // Neither a closed standard error nor a file-size limit kills the checker.
        {.what = "standard error a broken pipe",
         .args = {"in", "wrong", "ans"},
         .status = wa,
         .prepare = [](const std::string&, RunOptions& options) { options.stderr_descriptor = broken_pipe(); },
         .posix_only = true},
    };
}

// A FIFO for the result file, whose reader is open before the call, holds a pipe of one page
// and reads only after a while: a writer that is still non-blocking fails past the page.
struct SlowFifoReader {
    int fd = -1;
    std::thread reader;
    std::string read;
    void open_at(const std::string& path) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fcntl(fd, F_SETFL, 0), 0);
        ASSERT_GE(fcntl(fd, F_SETPIPE_SZ, 4096), 0);
        reader = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            char chunk[1024];
            for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
                read.append(chunk, static_cast<size_t>(got));
        });
    }
    std::string finish() {
        if (reader.joinable()) reader.join();
        if (fd >= 0) close(fd);
        fd = -1;
        return read;
    }
    ~SlowFifoReader() { finish(); }
};

std::vector<Row> result_file_rows() {
    const std::string see_file = "\nSee file to check exit message\n";
    // An output name too long to open makes a message of more than a page.
    const std::string long_name(5000, 'o');
    auto fifo_reader = std::make_shared<SlowFifoReader>();
    const std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";
    return {
        {.what = "result file",
         .args = {"in", "wrong", "ans", "result"},
         .status = 1,
         .err = see_file,
         .files = {{"result", wrong_message}}},
        // The XML declares windows-1251: a letter outside ASCII as a character reference.
        {.what = "-appes with a path in Cyrillic",
         .args = {"in", "\u043d\u0435\u0442.txt", "ans", "result", "-appes"},
         .status = 2,
         .err = see_file,
         .files = {{"result", xml + "<result outcome = \"presentation-error\">Output file not found: "
                                    "&quot;&#1085;&#1077;&#1090;.txt&quot;</result>\n"}}},
        {.what = "result file emptied first",
         .args = {"in", "right", "ans", "result"},
         .status = 0,
         .err = see_file,
         .files = {{"result", right_message}},
         .prepare =
             [](const std::string& dir, RunOptions&) {
                 std::ofstream(dir + "/result") << "an earlier, much longer message that must not show through";
             }},
        {.what = "-appes",
         .args = {"in", "right", "ans", "result", "-appes"},
         .status = 0,
         .err = see_file,
         .files = {{"result", xml + "<result outcome = \"accepted\">" + right_message + "</result>\n"}}},
        {.what = "-APPES wrong",
         .args = {"in", "wrong", "ans", "result", "-APPES"},
         .status = 1,
         .err = see_file,
         .files = {{"result", xml + "<result outcome = \"wrong-answer\">" + wrong_message + "</result>\n"}}},
        {.what = "-appes escapes",
         .args = {"in", "a&b<\"c\">\x01\x1f", "ans", "result", "-appes"},
         .status = 2,
         .err = see_file,
         .files = {{"result", xml + "<result outcome = \"presentation-error\">Output file not found: "
                                    "&quot;a&amp;b&lt;&quot;c&quot;&gt;..&quot;</result>\n"}},
         .posix_only = true},
        // Every invalid UTF-8 sequence as U+FFFD, each as long as its longest valid start: a bad
        // lead byte, cut short, overlong, a surrogate, past U+10FFFF; and U+FFFE, which XML
        // forbids. A real parser must take it.
        {.what = "-appes invalid UTF-8",
         .args = {"in", "\xff|\xc3x|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xef\xbf\xbe|\xf0\x9f\x98\x80|\xe2\x82",
                  "ans", "result", "-appes"},
         .status = 2,
         .err = see_file,
         .files = {{"result", xml + "<result outcome = \"presentation-error\">Output file not found: "
                                    "&quot;&#65533;|&#65533;x|&#65533;&#65533;|&#65533;&#65533;&#65533;|&#65533;&#"
                                    "65533;&#65533;&#65533;|&#65533;|&#128512;|&#65533;&quot;</result>\n"}},
         .verify =
             [](const std::string& dir) {
                 const std::string parse =
                     "python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' " + dir + "/result";
                 EXPECT_EQ(system(parse.c_str()), 0) << "the XML does not parse";
             },
         .posix_only = true},
        {.what = "-appes fail",
         .args = {"in", "right", "missing", "result", "-appes"},
         .status = 3,
         .err = see_file,
         .files = {{"result", xml + "<result outcome = \"fail\">cannot open the answer file missing: No such file or "
                                    "directory</result>\n"}}},
        {.what = "result file unwritable",
         .args = {"in", "right", "ans", "nowhere/result"},
         .status = 3,
         .err = "FAIL Can not write to the result file\n"},
        {.what = "result file a FIFO without a reader",
         .args = {"in", "right", "ans", "fifo"},
         .status = 3,
         .err = "FAIL Can not write to the result file\n",
         .prepare = [](const std::string& dir, RunOptions&) { ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0); },
         .posix_only = true},
        {.what = "result file a FIFO with a slow reader, a message over its page",
         .args = {"in", long_name, "ans", "fifo"},
         .status = 2,
         .err = see_file,
         .prepare = [fifo_reader](const std::string& dir, RunOptions&) { fifo_reader->open_at(dir + "/fifo"); },
         .verify =
             [fifo_reader, long_name](const std::string&) {
                 EXPECT_EQ(same_words(fifo_reader->finish()),
                           "cannot open the output file " + long_name + ": File name too long");
             },
         .posix_only = true},
        // The limit holds the captured standard error too: 64 bytes take its line, not the message.
        {.what = "result file over a file-size limit",
         .args = {"in", "wrong", "ans", "result"},
         .status = 3,
         .err = "FAIL Can not write to the result file\n",
         .prepare = [](const std::string&, RunOptions& options) { with_file_size_limit(options, 64); },
         .posix_only = true},
    };
}

class Testlib : public Protocol {};

TEST_P(Testlib, BehavesAsTestlib) {
    check(testlib_rows(1, 2, 3));
    check({
        {.what = "fifth not -appes",
         .args = {"in", "right", "ans", "result", "-xml"},
         .status = 3,
         .err = "FAIL the fifth argument must be -appes, not -xml; " + usage + "\n",
         .files = {{"result", std::nullopt}}},
    });
    check(byte_rows(1, 2));
    check(result_file_rows());
}

INSTANTIATE_TEST_SUITE_P(Builds, Testlib,
                         builds(TESTLIB_PATH, TESTLIB_GXX_DROPIN, TESTLIB_CLANG_DROPIN, TESTLIB_HUSTOJ_LINE_DROPIN,
                                TESTLIB_MINGW64_DROPIN),
                         test_name);

// Built with -DEJUDGE: ejudge's exit codes, and the result file ignored.
class TestlibEjudge : public Protocol {};

TEST_P(TestlibEjudge, ExitCodesOfEjudgeAndNoResultFile) {
    check(testlib_rows(5, 4, 6));
    check(byte_rows(5, 4));
    check({
        {.what = "result file ignored",
         .args = {"in", "wrong", "ans", "result", "-appes"},
         .status = 5,
         .err = "wrong answer " + std::string(wrong_message) + "\n",
         .files = {{"result", std::nullopt}}},
        // As testlib built for ejudge: a fifth argument is not read, whatever it is.
        {.what = "fifth argument not read",
         .args = {"in", "right", "ans", "result", "-xml"},
         .status = 0,
         .err = "ok " + std::string(right_message) + "\n",
         .files = {{"result", std::nullopt}}},
    });
}

INSTANTIATE_TEST_SUITE_P(Builds, TestlibEjudge, ::testing::Values(Variant{"gxx_dropin", TESTLIB_EJUDGE_DROPIN, false}),
                         test_name);

// ---- Problem package output validator: facts from BAPCtools and problemtools.

// What a judge puts where a file is to go, to discard it or to pass it on: a device of its own
// ("null" or "full", made here) or a link to one of the process's streams ("/proc/self/fd/1").
const std::pair<const char*, const char*> stand_ins[] = {
    {"null", "null"}, {"full", "full"}, {"stdout", "/proc/self/fd/1"}, {"stderr", "/proc/self/fd/2"}};

void stand_in(const std::string& path, const std::string& what) {
    if (what[0] == '/') {
        ASSERT_EQ(symlink(what.c_str(), path.c_str()), 0);
    } else {
        ASSERT_EQ(mknod(path.c_str(), S_IFCHR | 0666, makedev(1, what == "null" ? 3 : 7)), 0);
    }
}

void expect_standing(const std::string& path, const std::string& what) {
    struct stat st = {};
    EXPECT_TRUE(lstat(path.c_str(), &st) == 0 && (what[0] == '/' ? S_ISLNK(st.st_mode) : S_ISCHR(st.st_mode)))
        << path << " replaced";
}

// A private copy of them in the scratch directory's dev/.
void private_dev(const std::string& dir, RunOptions&) {
    ASSERT_EQ(mkdir((dir + "/dev").c_str(), 0755), 0);
    for (const auto& [name, what] : stand_ins) stand_in(dir + "/dev/" + name, what);
}

void devices_stand(const std::string& dir) {
    for (const auto& [name, what] : stand_ins) expect_standing(dir + "/dev/" + name, what);
}

constexpr char team_wrong[] =
    "Wrong answer: first difference at visible byte 4: line 3, column 3 of the output; line 2, column 3 of the "
    "answer.\n";
constexpr char judge_wrong[] =
    "standard input ans differ: visible byte 4\n  standard input:3:3: 3 5\n                        ^\n  ans:2:3: 3 4\n "
    "            ^\n";
constexpr char team_ok[] = "ok: 4 visible bytes match\n";
const Files fresh_messages = {
    {"fb/judgemessage.txt", ""}, {"fb/teammessage.txt", team_ok}, {"fb/judgeerror.txt", std::nullopt}};

Files judge_error_files(const std::string& reason) {
    return {{"fb/judgeerror.txt", reason + "\n"},
            {"fb/judgemessage.txt", "judge error: " + reason + "\n"},
            {"fb/teammessage.txt", "judge error\n"}};
}

void plant(const std::string& dir, const std::string& what) {
    if (what == "link") std::ofstream(dir + "/target") << "kept";
    if (what == "dangling") mkdir((dir + "/elsewhere").c_str(), 0755);
    if (what == "stale") std::ofstream(dir + "/fb/judgeerror.txt") << "an earlier run's judge error";
    for (const char* name : {"judgemessage.txt", "teammessage.txt"}) {
        const std::string path = dir + "/fb/" + name;
        int made = 0;
        if (what == "fifo") made = mkfifo(path.c_str(), 0600);
        if (what == "link") made = symlink((dir + "/target").c_str(), path.c_str());
        if (what == "dangling") made = symlink((dir + "/elsewhere/" + name).c_str(), path.c_str());
        if (what == "stale") std::ofstream(path) << "an earlier run's words";
        EXPECT_EQ(made, 0) << what << " " << name;
    }
}

void expect_fresh_regular_files(const std::string& dir) {
    for (const char* name : {"judgemessage.txt", "teammessage.txt"}) {
        struct stat st = {};
        EXPECT_EQ(lstat((dir + "/fb/" + name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
        EXPECT_EQ(st.st_mode & 07777, 0644u) << name << ": never writable by others, whatever the umask";
    }
}

std::vector<Row> validator_rows() {
    const std::string prefix = "filterspace_validator: ";
    const std::string long_answer_path(8300, 'a');
    const std::string long_reason = "cannot open the answer file " + long_answer_path + ": File name too long";
    const std::string stale_note =
        "cannot remove an earlier run's judgeerror.txt from the feedback directory fb: Is a directory; it is not this "
        "run's\n";
    auto planted = [](const char* what) {
        return [what](const std::string& dir, RunOptions& options) {
            plant(dir, what);
            options.umask = 0;
        };
    };
    std::vector<Row> rows = {
        {.what = "accepted",
         .args = {"in", "ans", "fb", "case_sensitive", "float_tolerance", "1e-6"},
         .status = 42,
         .files = fresh_messages,
         .stdin_path = "right"},
        // A reason longer than the message's buffer is cut there, whole lines kept.
        {.what = "answer path longer than a message",
         .args = {"in", long_answer_path, "fb"},
         .status = 1,
         .err = prefix + long_reason.substr(0, 8190) + "\n",
         .files = judge_error_files(long_reason.substr(0, 8190)),
         .stdin_path = "right"},
        // A feedback directory that cannot be written (read-only): the reason is the system's,
        // not the name generator's giving up.
        {.what = "feedback directory read-only",
         .args = {"in", "ans", "fb"},
         .status = 1,
         .err = prefix + "cannot replace teammessage.txt in the feedback directory fb: Read-only file system\n",
         .files = {{"fb/judgemessage.txt", std::nullopt}, {"fb/judgeerror.txt", std::nullopt}},
         .prepare =
             [](const std::string&, RunOptions& options) {
                 options.failing_calls = {SYS_openat};
                 options.failing_descriptor = 3;  // the feedback directory
                 options.failing_errno = EROFS;
             },
         .stdin_path = "right",
         .needs_static = true,
         .posix_only = true},
        // A device or a standard stream that the judge put at a file's name is written there.
        {.what = "message files a device and a standard stream",
         .args = {"in", "ans", "fb"},
         .status = 43,
         .out = team_wrong,
         .prepare =
             [](const std::string& dir, RunOptions&) {
                 stand_in(dir + "/fb/judgemessage.txt", "null");
                 stand_in(dir + "/fb/teammessage.txt", "/proc/self/fd/1");
             },
         .verify =
             [](const std::string& dir) {
                 expect_standing(dir + "/fb/judgemessage.txt", "null");
                 expect_standing(dir + "/fb/teammessage.txt", "/proc/self/fd/1");
             },
         .stdin_path = "wrong",
         .posix_only = true},
        // An earlier judge error that cannot be removed is told to the jury; the verdict stands.
        {.what = "stale judgeerror.txt kept",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .err = prefix + stale_note,
         .files = {{"fb/judgemessage.txt", "note: " + stale_note}, {"fb/teammessage.txt", team_ok}},
         .prepare =
             [](const std::string& dir, RunOptions&) {
                 ASSERT_EQ(mkdir((dir + "/fb/judgeerror.txt").c_str(), 0755), 0);
                 std::ofstream(dir + "/fb/judgeerror.txt/kept") << "an earlier run's judge error";
             },
         .stdin_path = "right"},
        // The notes go to the jury alone, on every verdict; the team reads what it read before.
        {.what = "notes: tokens split differently",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .files = {{"fb/judgemessage.txt", "note: " + std::string(split_note) +
                                               "\n  standard input:1:2: 12\n                       ^\n"
                                               "  ans:1:3: 1 2\n             ^\n"},
                   {"fb/teammessage.txt", team_ok}},
         .stdin_path = "split"},
        {.what = "notes: ignored bytes that are not white space",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .files = {{"fb/judgemessage.txt", odd_notes}, {"fb/teammessage.txt", team_ok}},
         .stdin_path = "odd"},
        {.what = "notes after the place of a wrong answer",
         .args = {"in", "ans", "fb"},
         .status = 43,
         .files = {{"fb/judgemessage.txt",
                    "standard input ans differ: visible byte 4\n  standard input:2:3: 3 5\\x7F\n"
                    "                        ^\n  ans:2:3: 3 4\n             ^\n" +
                        std::string(odd_wrong_notes)},
                   {"fb/teammessage.txt", "Wrong answer: " + odd_wrong_place + ".\n"}},
         .stdin_path = "odd_wrong"},
        {.what = "notes: an answer of white space alone",
         .args = {"in", "blank", "fb"},
         .status = 42,
         .files = {{"fb/judgemessage.txt", blank_note}, {"fb/teammessage.txt", "ok: 0 visible bytes match\n"}},
         .stdin_path = "empty"},
        // Judges check each .ans by validating it against itself: then the notes on the answer.
        {.what = "notes: answer validation of a mostly non-ASCII answer",
         .args = {"in", "utf8", "fb"},
         .status = 42,
         .files = {{"fb/judgemessage.txt", utf8_notes}, {"fb/teammessage.txt", "ok: 1 visible byte matches\n"}},
         .stdin_path = "utf8"},
        {.what = "answer validation",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .files = fresh_messages,
         .stdin_path = "ans"},
        {.what = "wrong",
         .args = {"in", "ans", "fb/"},
         .status = 43,
         .files = {{"fb/judgemessage.txt", judge_wrong}, {"fb/teammessage.txt", team_wrong}},
         .stdin_path = "wrong"},
        // Each side's line and column where an output ends early or goes on.
        {.what = "output ends early",
         .args = {"in", "ans", "fb"},
         .status = 43,
         .files =
             {{"fb/judgemessage.txt",
               "standard input ans differ: visible byte 4\n  standard input:2:2: 3\n                       ^ end of "
               "file\n  ans:2:3: 3 4\n             ^\n"},
              {"fb/teammessage.txt",
               "Wrong answer: the output ended after 3 visible bytes, at line 2, column 2; the answer goes on at "
               "line 2, column 3.\n"}},
         .stdin_path = "short"},
        {.what = "output goes on",
         .args = {"in", "ans", "fb"},
         .status = 43,
         .files = {{"fb/judgemessage.txt",
                    "standard input ans differ: visible byte 5\n  standard input:1:9: 1 2 3 4 5\n                      "
                    "        ^\n  ans:3:1: \n           ^ end of file\n"},
                   {"fb/teammessage.txt",
                    "Wrong answer: the output goes on past the answer's 4 visible bytes, at line 1, column 9; the "
                    "answer ended at line 3, column 1.\n"}},
         .stdin_path = "longer"},
        // The team output from a pipe that is still being written.
        {.what = "right from a slow pipe",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .files = fresh_messages,
         .prepare = slowly_piped("right")},
        {.what = "wrong from a slow pipe",
         .args = {"in", "ans", "fb"},
         .status = 43,
         .files = {{"fb/judgemessage.txt", judge_wrong}, {"fb/teammessage.txt", team_wrong}},
         .prepare = slowly_piped("wrong")},
        // Whatever stands under the messages' names is replaced, never opened or followed.
        {.what = "planted links",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .files = {{"target", "kept"}, {"elsewhere/judgemessage.txt", std::nullopt}},
         .prepare = planted("link"),
         .verify = expect_fresh_regular_files,
         .stdin_path = "right"},
        {.what = "planted dangling links",
         .args = {"in", "ans", "fb"},
         .status = 43,
         .files = {{"elsewhere/judgemessage.txt", std::nullopt},
                   {"elsewhere/teammessage.txt", std::nullopt},
                   {"fb/teammessage.txt", team_wrong}},
         .prepare = planted("dangling"),
         .verify = expect_fresh_regular_files,
         .stdin_path = "wrong"},
        {.what = "planted FIFOs",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .files = fresh_messages,
         .prepare = planted("fifo"),
         .verify = expect_fresh_regular_files,
         .stdin_path = "right"},
        {.what = "an earlier run's files",
         .args = {"in", "ans", "fb"},
         .status = 42,
         .files = fresh_messages,
         .prepare = planted("stale"),
         .stdin_path = "right"},
        // The feedback directory is checked first, whatever the verdict would be.
        {.what = "feedback an empty argument",
         .args = {"in", "ans", ""},
         .status = 1,
         .err = prefix + "the feedback directory is an empty argument\n",
         .verify = [](const std::string&) { EXPECT_FALSE(is_regular_file("/judgemessage.txt")); },
         .stdin_path = "right"},
        {.what = "feedback missing",
         .args = {"in", "ans", "nofb"},
         .status = 1,
         .err = prefix + "cannot open the feedback directory nofb: No such file or directory\n",
         .stdin_path = "right"},
        {.what = "feedback a file",
         .args = {"in", "ans", "ans"},
         .status = 1,
         .err = prefix + "cannot open the feedback directory ans: Not a directory\n",
         .stdin_path = "right"},
        {.what = "message entry that cannot be replaced",
         .args = {"in", "ans", "fb"},
         .status = 1,
         .err = prefix + "cannot replace judgemessage.txt in the feedback directory fb: Is a directory\n",
         .files = {{"fb/judgeerror.txt",
                    "cannot replace judgemessage.txt in the feedback directory fb: Is a directory\n"}},
         .prepare =
             [](const std::string& dir, RunOptions&) {
                 ASSERT_EQ(mkdir((dir + "/fb/judgemessage.txt").c_str(), 0755), 0);
                 std::ofstream(dir + "/fb/judgemessage.txt/kept") << "x";
             },
         .stdin_path = "right"},
        // Judge errors: the reason on standard error, in judgeerror.txt and in judgemessage.txt.
        {.what = "answer of unknown status",
         .args = {"in", "ans", "fb"},
         .status = 1,
         .err = prefix + "cannot open the answer file ans: Input/output error\n",
         .files = judge_error_files("cannot open the answer file ans: Input/output error"),
         // The feedback directory, its two messages, then the answer.
         .prepare = [](const std::string&, RunOptions& options) { fail_status_of(options, 6); },
         .stdin_path = "right"},
        {.what = "standard input closed",
         .args = {"in", "ans", "fb"},
         .status = 1,
         .err = prefix + "no team output: standard input is closed\n",
         .files = judge_error_files("no team output: standard input is closed"),
         .prepare = [](const std::string&, RunOptions& options) { options.closed_descriptors = {0}; }},
        {.what = "standard input a directory",
         .args = {"in", "ans", "fb"},
         .status = 1,
         .err = prefix + "cannot read standard input (the team output): Is a directory\n",
         .files = judge_error_files("cannot read standard input (the team output): Is a directory"),
         .stdin_path = "dir"},
        {.what = "too few arguments",
         .args = {"in", "ans"},
         .status = 1,
         .err =
             prefix +
             "usage: filterspace_validator input_file answer_file feedback_dir [additional arguments] < team_output\n",
         .stdin_path = "right"},
        // Neither a closed standard error nor a file-size limit kills the validator.
        {.what = "standard error a broken pipe",
         .args = {"in", "missing", "fb"},
         .status = 1,
         .prepare = [](const std::string&, RunOptions& options) { options.stderr_descriptor = broken_pipe(); },
         .stdin_path = "right"},
        // 120 bytes take the reason and the team's message (114), not the jury's with its
        // excerpts (124): a failure to write either message is a judge error.
        {.what = "messages over a file-size limit",
         .args = {"in", "ans", "fb"},
         .status = 1,
         .err = prefix + "cannot write to the feedback directory: File too large\n",
         .files = {{"fb/judgeerror.txt", "cannot write to the feedback directory: File too large\n"},
                   {"fb/teammessage.txt", "judge error\n"}},
         .prepare = [](const std::string&, RunOptions& options) { with_file_size_limit(options, 120); },
         .stdin_path = "wrong"},
    };
    // And an answer that is missing, a directory or unreadable.
    for (const auto& [answer, reason] :
         {std::pair{"missing", "cannot open the answer file missing: No such file or directory"},
          std::pair{"dir", "cannot open the answer file dir: Is a directory"},
          std::pair{"/proc/self/mem", "cannot read the answer file /proc/self/mem: Input/output error"}})
        rows.push_back({.what = reason,
                        .args = {"in", answer, "fb"},
                        .status = 1,
                        .err = prefix + reason + "\n",
                        .files = judge_error_files(reason),
                        .stdin_path = "right"});
    return rows;
}

class Validator : public Protocol {};

// Hydro's kattis type shows the team teammessage.txt, or judgemessage.txt where the first is
// empty: the jury's words, excerpts of the answer among them, must never reach a team so.
TEST_P(Validator, BehavesAsTheJudgesToolsExpect) {
    for (const Row& row : validator_rows())
        check_row(GetParam(), row, [](const CheckerRun&, const std::string& dir) {
            const std::optional<std::string> team = read_file(dir + "/fb/teammessage.txt"),
                                             judge = read_file(dir + "/fb/judgemessage.txt");
            if (judge && !judge->empty() && team) {
                EXPECT_FALSE(team->empty()) << "Hydro shows the team: " << *judge;
            }
            if (team) expect_no_answer_byte(*team);
        });
}

INSTANTIATE_TEST_SUITE_P(Builds, Validator,
                         builds(VALIDATOR_PATH, VALIDATOR_GXX_DROPIN, VALIDATOR_CLANG_DROPIN,
                                VALIDATOR_HUSTOJ_LINE_DROPIN),
                         test_name);

// ---- CMS: the first line of standard output and of standard error, then ADMIN_MESSAGE: lines.

std::vector<Row> cms_rows() {
    const std::string prefix = "filterspace_cms: ";
    return {
        {.what = "right", .args = {"in", "ans", "right"}, .status = 0, .out = "1.0\n", .err = "translate:success\n"},
        {.what = "wrong",
         .args = {"in", "ans", "wrong", "sources"},
         .status = 0,
         .out = "0.0\n",
         .err = "translate:wrong\nADMIN_MESSAGE: " + std::string(wrong_message) + "\n"},
        // The whole place, each side's line and column where it is: an output that ends early
        // (line 2, column 2) and one that goes on (line 1, column 9) against the answer's.
        {.what = "output ends early",
         .args = {"in", "ans", "short"},
         .status = 0,
         .out = "0.0\n",
         .err = "translate:wrong\nADMIN_MESSAGE: the output ended after 3 visible bytes, at line 2, column 2; the "
                "answer goes on at line 2, column 3\n"},
        {.what = "output goes on",
         .args = {"in", "ans", "longer"},
         .status = 0,
         .out = "0.0\n",
         .err = "translate:wrong\nADMIN_MESSAGE: the output goes on past the answer's 4 visible bytes, at line 1, "
                "column 9; the answer ended at line 3, column 1\n"},
        {.what = "output empty",
         .args = {"in", "ans", "empty"},
         .status = 0,
         .out = "0.0\n",
         .err = "translate:wrong\nADMIN_MESSAGE: the output ended after 0 visible bytes, at line 1, column 1; the "
                "answer goes on at line 1, column 1\n"},
        {.what = "one path twice",
         .args = {"in", "ans", "ans"},
         .status = 0,
         .out = "1.0\n",
         .err = "translate:success\n"},
        // The notes, on the admins' line alone, without a byte of either file.
        {.what = "notes: tokens split differently",
         .args = {"in", "ans", "split"},
         .status = 0,
         .out = "1.0\n",
         .err = "translate:success\nADMIN_MESSAGE: note: " + std::string(split_note) + "\n"},
        {.what = "notes after the place of a wrong answer",
         .args = {"in", "ans", "odd_wrong"},
         .status = 0,
         .out = "0.0\n",
         .err = "translate:wrong\nADMIN_MESSAGE: " + odd_wrong_place +
                "; note: the output holds 1 control byte other than white space, the first at line 1, column 2; "
                "note: these notes cover the output up to its first difference and the answer to its end\n"},
        {.what = "notes: ignored bytes that are not white space",
         .args = {"in", "ans", "odd"},
         .status = 0,
         .out = "1.0\n",
         .err =
             "translate:success\nADMIN_MESSAGE: note: the output starts with a UTF-8 byte-order mark; note: the output "
             "holds 3 bytes from 0x80 up (not ASCII), the first at line 2, column 2; note: the output holds 1 control "
             "byte other than white space, the first at line 1, column 5; note: the output holds 1 DEL byte (0x7F), "
             "the first at line 2, column 6\n"},
        {.what = "notes: a mostly non-ASCII answer",
         .args = {"in", "utf8", "utf8"},
         .status = 0,
         .out = "1.0\n",
         .err = "translate:success\nADMIN_MESSAGE: note: the output holds 6 bytes from 0x80 up (not ASCII), the first "
                "at line 1, column 3; note: the answer holds 6 bytes from 0x80 up (not ASCII), the first at line 1, "
                "column 3; note: the answer is 66% bytes from 0x80 up: the rule ignores them and compares only its "
                "ASCII\n"},
        {.what = "notes: an answer of white space alone",
         .args = {"in", "blank", "empty"},
         .status = 0,
         .out = "1.0\n",
         .err = "translate:success\nADMIN_MESSAGE: note: the answer has no visible byte: any output of white space "
                "alone matches it\n"},
        {.what = "output a link to the answer",
         .args = {"in", "ans", "link"},
         .status = 0,
         .out = "0.0\n",
         .err = "translate:wrong\nADMIN_MESSAGE: the contestant's output is the correct output's file under another "
                "name: an answer compared with itself is always right\n"},
        {.what = "missing output",
         .args = {"in", "ans", "missing"},
         .status = 1,
         .err = prefix + "cannot open the contestant's output missing: No such file or directory\n"},
        {.what = "answer a directory",
         .args = {"in", "dir", "right"},
         .status = 1,
         .err = prefix + "cannot open the correct output dir: Is a directory\n"},
        // The contestant's output that cannot be read is the judge's trouble too: never a verdict.
        {.what = "output unreadable",
         .args = {"in", "ans", "/proc/self/mem"},
         .status = 1,
         .err = prefix + "cannot read the contestant's output /proc/self/mem: Input/output error\n"},
        {.what = "answer unreadable",
         .args = {"in", "/proc/self/mem", "right"},
         .status = 1,
         .err = prefix + "cannot read the correct output /proc/self/mem: Input/output error\n"},
        {.what = "answer of unknown status",
         .args = {"in", "ans", "link"},
         .status = 1,
         .err = prefix + "cannot open the correct output ans: Input/output error\n",
         .prepare = [](const std::string&, RunOptions& options) { fail_status_of(options, 4); }},
        {.what = "too few arguments",
         .args = {"in", "ans"},
         .status = 1,
         .err = prefix + "usage: filterspace_cms input correct_output contestant_output\n"},
        {.what = "standard output a broken pipe",
         .args = {"in", "ans", "right"},
         .status = 1,
         .err = prefix + "cannot write the outcome: Broken pipe\n",
         .prepare = [](const std::string&, RunOptions& options) { options.stdout_descriptor = broken_pipe(); }},
        {.what = "standard output a full device",
         .args = {"in", "ans", "right"},
         .status = 1,
         .err = prefix + "cannot write the outcome: No space left on device\n",
         .prepare =
             [](const std::string&, RunOptions& options) {
                 options.stdout_descriptor = above_standard(open("/dev/full", O_WRONLY | O_CLOEXEC));
             }},
        // The outcome cut short by the limit is a failure; the reason goes where no limit holds.
        {.what = "standard output over a file-size limit",
         .args = {"in", "ans", "right"},
         .status = 1,
         .prepare =
             [](const std::string& dir, RunOptions& options) {
                 options.stdout_descriptor =
                     above_standard(open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
                 options.stderr_descriptor = above_standard(open("/dev/null", O_WRONLY | O_CLOEXEC));
                 with_file_size_limit(options, 1);
             }},
    };
}

class Cms : public Protocol {};

TEST_P(Cms, BehavesAsCmsReadsIt) { check(cms_rows()); }

INSTANTIATE_TEST_SUITE_P(Builds, Cms, ::testing::Values(Variant{"command", CMS_PATH, COMMANDS_STATIC}), test_name);

// One file is known by its device and its inode together: an output and an answer on two file
// systems that number their inodes alike are two files, judged as usual.
TEST(FrontEnds, SameInodeOnAnotherDeviceIsAnotherFile) {
    const TwinInodes twins("same 1");
    if (!twins.unavailable().empty()) GTEST_SKIP() << twins.unavailable();
    for (const char* testlib : {TESTLIB_PATH, TESTLIB_GXX_DROPIN}) {
        const int program = above_standard(open(testlib, O_PATH | O_CLOEXEC));
        const CheckerRun run = run_program(testlib, program, {"in", twins.path(0), twins.path(1)});
        close(program);
        EXPECT_EQ(run.status, 0) << testlib << ": " << run.err;
    }
    const int cms = above_standard(open(CMS_PATH, O_PATH | O_CLOEXEC));
    const CheckerRun run = run_program(CMS_PATH, cms, {"in", twins.path(1), twins.path(0)});
    close(cms);
    EXPECT_EQ(run.out, "1.0\n") << run.err;
}

// The engine built for Windows chooses the kernels that it chooses on Linux, on the same
// processor, as the engine itself reports them.
TEST(WindowsDropIn, ChoosesTheKernelSetOfLinux) {
    const bool built = KERNEL_SET_PROBE_WINDOWS[0] != '\0' && WINE_PATH[0] != '\0';
    if (!built && getenv("CI") != nullptr) FAIL() << "not built: CI installs what it needs";
    if (!built) GTEST_SKIP() << "needs apt-get install g++-mingw-w64-x86-64 wine";
    WinePrefix::prepare();
    const ScratchDirectory scratch;
    std::string text;
    for (int k = 0; k < 50000; ++k) text += std::to_string(k) + "\n";
    scratch.file("out", text);
    scratch.file("ans", text);
    RunOptions options;
    options.directory = scratch.path();
    options.timeout = std::chrono::seconds(30);
    const int linux_program = above_standard(open(KERNEL_SET_PROBE, O_PATH | O_CLOEXEC));
    const CheckerRun on_linux = run_program(KERNEL_SET_PROBE, linux_program, {"out", "ans"}, options);
    close(linux_program);
    const CheckerRun on_wine = run_program(WINE_PATH, -1, {KERNEL_SET_PROBE_WINDOWS, "out", "ans"}, options);
    EXPECT_EQ(on_linux.status, 0);
    EXPECT_EQ(without_carriage_returns(on_wine.out), on_linux.out);
}

// The output-validator directory as a judge receives it: only build and run executable, the
// build run first or not at all.
TEST(ValidatorDirectory, BuildsAndRunsWithOnlyItsScriptsExecutable) {
    const ScratchDirectory scratch;
    const std::string& dir = scratch.path();
    ASSERT_EQ(system(("cp -r " VALIDATOR_DIRECTORY " " + dir + "/validator && chmod -x " + dir +
                      "/validator/*.cpp && chmod +x " + dir + "/validator/build " + dir + "/validator/run")
                         .c_str()),
              0);
    std::ofstream(dir + "/ans") << "1 2";
    std::ofstream(dir + "/out") << "12\n";
    mkdir((dir + "/feedback").c_str(), 0755);
    const std::string call = dir + "/validator/run " + dir + "/in " + dir + "/ans " + dir + "/feedback < " + dir;
    // Not built yet: run builds it. Then built: run uses it.
    EXPECT_EQ(WEXITSTATUS(system((call + "/out").c_str())), 42);
    std::ofstream(dir + "/wrong") << "13\n";
    EXPECT_EQ(WEXITSTATUS(system((call + "/wrong").c_str())), 43);
    EXPECT_EQ(system(("cd " + dir + "/validator && ./build").c_str()), 0);
    EXPECT_EQ(WEXITSTATUS(system((call + "/out").c_str())), 42);
}

// Several judge workers call run at once on a fresh directory, before build ran: every one of
// them must be judged, none may meet the executable while it is being written.
TEST(ValidatorDirectory, ConcurrentRunsOnAFreshDirectory) {
    const ScratchDirectory scratch;
    const std::string& dir = scratch.path();
    ASSERT_EQ(system(("cp -r " VALIDATOR_DIRECTORY " " + dir + "/validator").c_str()), 0);
    scratch.file("ans", "1 2");
    scratch.file("out", "12\n");
    std::vector<std::thread> workers;
    int statuses[4] = {};
    for (int k = 0; k < 4; ++k) {
        mkdir((dir + "/fb" + std::to_string(k)).c_str(), 0755);
        workers.emplace_back([&, k] {
            const std::string call = "sh " + dir + "/validator/run " + dir + "/in " + dir + "/ans " + dir + "/fb" +
                                     std::to_string(k) + " < " + dir + "/out 2>/dev/null";
            statuses[k] = WEXITSTATUS(system(call.c_str()));
        });
    }
    for (auto& worker : workers) worker.join();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(statuses[k], 42) << "worker " << k;
}

// ---- The school judges' special-judge protocols: Lemon, HUSTOJ and SYZOJ. Every row is also read
// by a model of each judge that speaks the protocol (judge_models.h).

// What a row must come to: right is accepted everywhere, wrong is wrong everywhere, and a judge
// failure is a failure in every judge that has one, and never right in those that have not.
enum class Meant { right, wrong, judge_failure };

struct JudgedRow {
    Row row;
    Meant meant;
};

const char* name_of(Verdict verdict) {
    switch (verdict) {
        case Verdict::accepted:
            return "accepted";
        case Verdict::partial:
            return "partial";
        case Verdict::wrong:
            return "wrong";
        case Verdict::failed:
            return "failed";
    }
    return "?";
}

void expect_judged(const char* judge, Verdict verdict, Meant meant, bool has_failure) {
    const Verdict want = meant == Meant::right                   ? Verdict::accepted
                         : meant == Meant::wrong || !has_failure ? Verdict::wrong
                                                                 : Verdict::failed;
    EXPECT_EQ(name_of(verdict), std::string(name_of(want))) << judge;
}

SpecialJudgeRun as_judged(const CheckerRun& run, const std::optional<std::string>& score_file = std::nullopt) {
    return {run.exited, run.status, run.out, run.err, score_file};
}

class SchoolJudge : public Protocol {
protected:
    void check(const std::vector<JudgedRow>& rows,
               const std::function<void(const JudgedRow&, const CheckerRun&, const std::string&)>& judges) {
        for (const JudgedRow& row : rows)
            check_row(GetParam(), row.row,
                      [&](const CheckerRun& run, const std::string& dir) { judges(row, run, dir); });
    }
};

Row::Prepare closing_standard_streams(std::vector<int> descriptors) {
    return [descriptors](const std::string&, RunOptions& options) { options.closed_descriptors = descriptors; };
}

constexpr char ok_message[] = "ok: 4 visible bytes match";
constexpr char same_reason[] = "an answer compared with itself is always right";
const std::string lemon_prefix = "filterspace_lemon: ";
constexpr char bad_full_score[] =
    " is not a whole number from 0 to 2147483647 (on Hydro, a case's score written by hand: make it a whole number, "
    "or use the syzoj checker type)";

std::vector<std::string> lemon_call(const std::string& out, const std::string& ans, const std::string& full = "100") {
    return {"in", out, ans, full, "score", "message"};
}

Files lemon_files(const std::string& score, const std::string& message) {
    return {{"score", score}, {"message", message + "\n"}};
}

Files lemon_failure_files(const std::string& reason) {
    return {{"score", std::nullopt}, {"message", "judge error: " + reason + "\n"}};
}

std::vector<JudgedRow> lemon_rows() {
    const std::string wrong = std::string("wrong answer: ") + wrong_message;
    const std::string unreplaceable =
        "cannot write the score file ro/score: Permission denied; the score file ro/score cannot be removed: it was "
        "emptied";
    auto planted = [](bool fifo) {
        return [fifo](const std::string& dir, RunOptions&) {
            std::ofstream(dir + "/target") << "kept";
            for (const char* name : {"/score", "/message"})
                ASSERT_EQ(fifo ? mkfifo((dir + name).c_str(), 0600) : symlink("target", (dir + name).c_str()), 0);
        };
    };
    std::vector<JudgedRow> rows = {
        {{.what = "right", .args = lemon_call("right", "ans"), .status = 0, .files = lemon_files("100\n", ok_message)},
         Meant::right},
        {{.what = "right, a full score of 7",
          .args = lemon_call("right", "ans", "7"),
          .status = 0,
          .files = lemon_files("7\n", ok_message)},
         Meant::right},
        // LemonLime reads 010 as octal 8: the score is written without leading zeros.
        {{.what = "right, a full score with a leading zero",
          .args = lemon_call("right", "ans", "010"),
          .status = 0,
          .files = lemon_files("10\n", ok_message)},
         Meant::right},
        {{.what = "right, the largest full score",
          .args = lemon_call("right", "ans", "2147483647"),
          .status = 0,
          .files = lemon_files("2147483647\n", ok_message)},
         Meant::right},
        {{.what = "wrong", .args = lemon_call("wrong", "ans"), .status = 0, .files = lemon_files("0\n", wrong)},
         Meant::wrong},
        // What the rule ignored is the jury's: never in a message the contestant may read.
        {{.what = "no notes",
          .args = lemon_call("split", "odd"),
          .status = 0,
          .files = lemon_files("100\n", ok_message)},
         Meant::right},
        {{.what = "output ending early",
          .args = lemon_call("short", "ans"),
          .status = 0,
          .files = lemon_files("0\n",
                               "wrong answer: the output ended after 3 visible bytes, at line 2, column 2; the answer "
                               "goes on at line 2, column 3")},
         Meant::wrong},
        {{.what = "missing output",
          .args = lemon_call("missing", "ans"),
          .status = 0,
          .files = lemon_files("0\n", "wrong answer: the output cannot be opened: No such file or directory")},
         Meant::wrong},
        {{.what = "output a directory",
          .args = lemon_call("dir", "ans"),
          .status = 0,
          .files = lemon_files("0\n", "wrong answer: the output cannot be opened: Is a directory")},
         Meant::wrong},
        // An I/O error comes from the judge's machine, not from the contestant's file.
        {{.what = "output unreadable",
          .args = lemon_call("/proc/self/mem", "ans"),
          .status = 1,
          .err = lemon_prefix + "cannot read the output file /proc/self/mem: Input/output error\n",
          .files = lemon_failure_files("cannot read the output file /proc/self/mem: Input/output error"),
          .posix_only = true},
         Meant::judge_failure},
        // One path twice is the judge's call (answer validation); another name is the contestant's link.
        {{.what = "one path twice",
          .args = lemon_call("ans", "ans"),
          .status = 0,
          .files = lemon_files("100\n", ok_message)},
         Meant::right},
        {{.what = "output a link to the answer",
          .args = lemon_call("link", "ans"),
          .status = 0,
          .files = lemon_files(
              "0\n", "wrong answer: the output is the answer file under another name: " + std::string(same_reason))},
         Meant::wrong},
        {{.what = "answer unreadable",
          .args = lemon_call("right", "/proc/self/mem"),
          .status = 1,
          .err = lemon_prefix + "cannot read the answer file /proc/self/mem: Input/output error\n",
          .files = lemon_failure_files("cannot read the answer file /proc/self/mem: Input/output error"),
          .posix_only = true},
         Meant::judge_failure},
        // A judge failure leaves no score file, not even an earlier one.
        {{.what = "missing answer, an earlier score removed",
          .args = lemon_call("right", "missing"),
          .status = 1,
          .err = lemon_prefix + "cannot open the answer file missing: No such file or directory\n",
          .files = lemon_failure_files("cannot open the answer file missing: No such file or directory"),
          .prepare = [](const std::string& dir, RunOptions&) { std::ofstream(dir + "/score") << "100\n"; }},
         Meant::judge_failure},
        // A message that cannot be written is told on standard error; the verdict stands.
        {{.what = "message file in a missing directory",
          .args = {"in", "right", "ans", "100", "score", "nowhere/message"},
          .status = 0,
          .err = lemon_prefix + "cannot write the message file nowhere/message: No such file or directory\n",
          .files = {{"score", "100\n"}}},
         Meant::right},
        // Files right under the root (here a chroot's) are written there, not in the working directory.
        {{.what = "files in the root directory",
          .args = {"in", "/right", "/ans", "100", "/score", "/message"},
          .status = 0,
          .files = {{"score", "100\n"}, {"message", std::string(ok_message) + "\n"}, {"fb/score", std::nullopt}},
          .prepare =
              [](const std::string& dir, RunOptions& options) {
                  options.root = dir;
                  options.directory = "/fb";
              },
          .needs_static = true,
          .posix_only = true},
         Meant::right},
        {{.what = "score file named as a directory",
          .args = {"in", "right", "ans", "100", "fb/", "message"},
          .status = 1,
          .err = lemon_prefix + "cannot write the score file fb/: Is a directory\n",
          .files = {{"message", "judge error: cannot write the score file fb/: Is a directory\n"}},
          .posix_only = true},  // Windows refuses a directory with another reason
         Meant::judge_failure},
        {{.what = "score file in a missing directory",
          .args = {"in", "right", "ans", "100", "nowhere/score", "message"},
          .status = 1,
          .err = lemon_prefix + "cannot write the score file nowhere/score: No such file or directory\n",
          .files = {{"message",
                     "judge error: cannot write the score file nowhere/score: No such file or directory\n"}}},
         Meant::judge_failure},
        // Whatever stood at the files' paths is replaced, never followed or opened.
        {{.what = "links planted at the score and message files",
          .args = lemon_call("right", "ans"),
          .status = 0,
          .files = {{"score", "100\n"}, {"message", std::string(ok_message) + "\n"}, {"target", "kept"}},
          .prepare = planted(false),
          .posix_only = true},
         Meant::right},
        {{.what = "FIFOs planted at the score and message files",
          .args = lemon_call("right", "ans"),
          .status = 0,
          .files = lemon_files("100\n", ok_message),
          .prepare = planted(true),
          .posix_only = true},
         Meant::right},
        // Devices and standard streams that a judge names are written where they stand, never
        // replaced (as root, that would break the machine): here a private copy of /dev.
        {{.what = "score to a null device, message to standard output",
          .args = {"in", "right", "ans", "100", "dev/null", "dev/stdout"},
          .status = 0,
          .out = std::string(ok_message) + "\n",
          .prepare = private_dev,
          .verify = devices_stand,
          .posix_only = true},
         Meant::right},
        {{.what = "score to a full device, message to standard error",
          .args = {"in", "right", "ans", "100", "dev/full", "dev/stderr"},
          .status = 1,
          .err = lemon_prefix + "cannot write the score file dev/full: No space left on device\njudge error: cannot "
                                "write the score file dev/full: No space left on device\n",
          .prepare = private_dev,
          .verify = devices_stand,
          .posix_only = true},
         Meant::judge_failure},
        // A score file that cannot be replaced (a read-only directory, here as an unprivileged user)
        // is emptied: an earlier 100 would be read as this run's by a judge that ignores the status.
        {{.what = "an earlier score file that cannot be replaced",
          .args = {"in", "wrong", "ans", "100", "ro/score", "fb/message"},
          .status = 1,
          .err = lemon_prefix + unreplaceable + "\n",
          .files = {{"ro/score", ""}, {"fb/message", "judge error: " + unreplaceable + "\n"}},
          .prepare =
              [](const std::string& dir, RunOptions& options) {
                  constexpr uid_t nobody = 65534;
                  ASSERT_EQ(mkdir((dir + "/ro").c_str(), 0755), 0);
                  std::ofstream(dir + "/ro/score") << "100\n";
                  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
                  for (const char* owned : {"/ro", "/ro/score", "/fb"})
                      ASSERT_EQ(chown((dir + owned).c_str(), nobody, nobody), 0);
                  ASSERT_EQ(chmod((dir + "/ro").c_str(), 0555), 0);
                  options.user = nobody;
              },
          .posix_only = true},
         Meant::judge_failure},
        {{.what = "closed standard streams",
          .args = lemon_call("wrong", "ans"),
          .status = 0,
          .files = lemon_files("0\n", wrong),
          .prepare = closing_standard_streams({0, 1, 2}),
          .posix_only = true},
         Meant::wrong},
        {{.what = "too few arguments",
          .args = {"in", "right", "ans", "100", "score"},
          .status = 1,
          .err = lemon_prefix + "usage: filterspace_lemon input output answer full_score score_file message_file\n",
          .files = {{"score", std::nullopt}}},
         Meant::judge_failure},
        // LemonLime on Windows passes paths with backslashes.
        {{.what = "paths with backslashes",
          .args = {"in", "right", "ans", "100", "fb\\score", "fb\\message"},
          .status = 0,
          .files = {{"fb/score", "100\n"}, {"fb/message", std::string(ok_message) + "\n"}},
          .windows_only = true},
         Meant::right},
    };
    // A fraction (a case's score written by hand in a Hydro config), a sign, more than LemonLime's int holds.
    for (const auto& [full, what] :
         std::vector<std::pair<const char*, const char*>>{{"33.333333333333336", "full score a fraction"},
                                                          {"-5", "full score negative"},
                                                          {"+7", "full score with a sign"},
                                                          {"abc", "full score not a number"},
                                                          {"", "full score empty"},
                                                          {"2147483648", "full score past an int"},
                                                          {"18446744073709551621", "full score past 64 bits"},
                                                          {"1e2", "full score with an exponent"}})
        rows.push_back({{what, lemon_call("right", "ans", full), 1, "",
                         lemon_prefix + "the full score " + full + bad_full_score + "\n",
                         lemon_failure_files("the full score " + std::string(full) + bad_full_score),
                         [](const std::string& dir, RunOptions&) { std::ofstream(dir + "/score") << "100\n"; }},
                        Meant::judge_failure});
    return rows;
}

class Lemon : public SchoolJudge {};

TEST_P(Lemon, EveryLemonJudgeReadsTheRowsAsMeant) {
    check(lemon_rows(), [](const JudgedRow& row, const CheckerRun& run, const std::string& dir) {
        const std::vector<std::string>& args = row.row.args;
        const std::string full = args.size() > 3 ? args[3] : "";
        std::string score_path = args.size() > 4 ? args[4] : "";
        std::replace(score_path.begin(), score_path.end(), '\\', '/');  // Windows' separators
        if (score_path.rfind("dev/", 0) == 0) return;  // a score discarded or passed on: no judge reads it
        const std::optional<std::string> score =
            args.size() > 4 ? read_file(dir + "/" + score_path) : std::optional<std::string>();
        const SpecialJudgeRun judged = as_judged(run, score);
        expect_judged("LemonLime", lemonlime_reads(judged, strtol(full.c_str(), nullptr, 10)), row.meant, true);
        expect_judged("Hydro lemon", hydro_lemon_reads(judged, strtod(full.c_str(), nullptr)), row.meant, true);
        if (full == "100") expect_judged("LibreOJ lemon", libreoj_lemon_reads(judged), row.meant, true);
        if (const std::optional<std::string> message = read_file(dir + "/message")) expect_no_answer_byte(*message);
    });
}

INSTANTIATE_TEST_SUITE_P(Builds, Lemon,
                         builds(LEMON_PATH, LEMON_GXX_DROPIN, LEMON_CLANG_DROPIN, LEMON_HUSTOJ_LINE_DROPIN,
                                LEMON_MINGW64_DROPIN),
                         test_name);

std::vector<JudgedRow> hustoj_rows() {
    auto both = [](const std::string& line) { return line + "\n"; };
    const std::string wrong = std::string("wrong answer: ") + wrong_message;
    std::vector<JudgedRow> rows = {
        {{.what = "right",
          .args = {"in", "ans", "right"},
          .status = 0,
          .out = both(ok_message),
          .err = both(ok_message)},
         Meant::right},
        {{.what = "wrong", .args = {"in", "ans", "wrong"}, .status = 1, .out = both(wrong), .err = both(wrong)},
         Meant::wrong},
        {{.what = "no notes",
          .args = {"in", "odd", "split"},
          .status = 0,
          .out = both(ok_message),
          .err = both(ok_message)},
         Meant::right},
        // The answer before the output: the same two files the other way round.
        {{.what = "the answer first",
          .args = {"in", "wrong", "ans"},
          .status = 1,
          .out = both("wrong answer: first difference at visible byte 4: line 2, column 3 of the output; line 3, "
                      "column 3 of the answer"),
          .err = both("wrong answer: first difference at visible byte 4: line 2, column 3 of the output; line 3, "
                      "column 3 of the answer")},
         Meant::wrong},
        {{.what = "output ending early",
          .args = {"in", "ans", "short"},
          .status = 1,
          .out = both("wrong answer: the output ended after 3 visible bytes, at line 2, column 2; the answer goes on "
                      "at line 2, column 3"),
          .err = both("wrong answer: the output ended after 3 visible bytes, at line 2, column 2; the answer goes on "
                      "at line 2, column 3")},
         Meant::wrong},
        {{.what = "missing output",
          .args = {"in", "ans", "missing"},
          .status = 1,
          .out = both("wrong answer: the output cannot be opened: No such file or directory"),
          .err = both("wrong answer: the output cannot be opened: No such file or directory")},
         Meant::wrong},
        {{.what = "output unreadable",
          .args = {"in", "ans", "/proc/self/mem"},
          .status = 1,
          .out = both("judge error: the output cannot be read: Input/output error"),
          .err = both("judge error: the output cannot be read: Input/output error")},
         Meant::judge_failure},
        {{.what = "one path twice",
          .args = {"in", "ans", "ans"},
          .status = 0,
          .out = both(ok_message),
          .err = both(ok_message)},
         Meant::right},
        {{.what = "output a link to the answer",
          .args = {"in", "ans", "link"},
          .status = 1,
          .out = both("wrong answer: the output is the answer file under another name: " + std::string(same_reason)),
          .err = both("wrong answer: the output is the answer file under another name: " + std::string(same_reason))},
         Meant::wrong},
        {{.what = "answer unreadable",
          .args = {"in", "/proc/self/mem", "right"},
          .status = 1,
          .out = both("judge error: the answer cannot be read: Input/output error"),
          .err = both("judge error: the answer cannot be read: Input/output error")},
         Meant::judge_failure},
        {{.what = "missing answer",
          .args = {"in", "missing", "right"},
          .status = 1,
          .out = both("judge error: the answer cannot be opened: No such file or directory"),
          .err = both("judge error: the answer cannot be opened: No such file or directory")},
         Meant::judge_failure},
        {{.what = "too few arguments",
          .args = {"in", "ans"},
          .status = 1,
          .out = both("judge error: usage: filterspace_hustoj input answer output"),
          .err = both("judge error: usage: filterspace_hustoj input answer output")},
         Meant::judge_failure},
        {{.what = "closed standard streams",
          .args = {"in", "ans", "right"},
          .status = 0,
          .prepare = closing_standard_streams({0, 1, 2})},
         Meant::right},
        {{.what = "standard output a broken pipe",
          .args = {"in", "ans", "wrong"},
          .status = 1,
          .err = both(wrong),
          .prepare = [](const std::string&, RunOptions& options) { options.stdout_descriptor = broken_pipe(); }},
         Meant::wrong},
    };
    return rows;
}

class Hustoj : public SchoolJudge {};

TEST_P(Hustoj, EveryHustojJudgeReadsTheRowsAsMeant) {
    check(hustoj_rows(), [](const JudgedRow& row, const CheckerRun& run, const std::string&) {
        const SpecialJudgeRun judged = as_judged(run);
        expect_judged("HUSTOJ", hustoj_reads(judged), row.meant, false);
        expect_judged("Hydro hustoj", hydro_hustoj_reads(judged), row.meant, false);
        expect_judged("LibreOJ hustoj", libreoj_hustoj_reads(judged), row.meant, false);
        // What the submitter sees: one line, short, shown, without a path or a byte of the answer.
        EXPECT_FALSE(hustoj_hides(run.err)) << run.err;
        EXPECT_LT(run.err.size(), 1023u);
        EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1);
        for (const std::string& arg : row.row.args)
            if (arg.find('/') != std::string::npos) {
                EXPECT_EQ(run.err.find(arg), std::string::npos) << run.err;
            }
        expect_no_answer_byte(run.err);
    });
}

INSTANTIATE_TEST_SUITE_P(Builds, Hustoj,
                         builds(HUSTOJ_PATH, HUSTOJ_GXX_DROPIN, HUSTOJ_CLANG_DROPIN, HUSTOJ_HUSTOJ_LINE_DROPIN),
                         test_name);

// The SYZOJ files in the working directory: user_out from a scratch file (or a link to target),
// answer from another.
Row::Prepare syzoj_files(const char* output, const char* answer, const char* output_link = nullptr,
                         const char* answer_link = nullptr) {
    return [=](const std::string& dir, RunOptions&) {
        if (output != nullptr) std::ofstream(dir + "/user_out") << *read_file(dir + "/" + output);
        if (answer != nullptr) std::ofstream(dir + "/answer") << *read_file(dir + "/" + answer);
        if (output_link != nullptr) {
            ASSERT_EQ(symlink(output_link, (dir + "/user_out").c_str()), 0);
        }
        if (answer_link != nullptr) {
            ASSERT_EQ(symlink(answer_link, (dir + "/answer").c_str()), 0);
        }
    };
}

std::vector<JudgedRow> syzoj_rows() {
    const std::string failure = "judge error: ";
    return {
        {{.what = "right",
          .status = 0,
          .out = "100\n",
          .err = std::string(ok_message) + "\n",
          .prepare = syzoj_files("right", "ans")},
         Meant::right},
        {{.what = "no notes",
          .status = 0,
          .out = "100\n",
          .err = std::string(ok_message) + "\n",
          .prepare = syzoj_files("split", "odd")},
         Meant::right},
        {{.what = "arguments not read",
          .args = {"x", "y"},
          .status = 0,
          .out = "100\n",
          .err = std::string(ok_message) + "\n",
          .prepare = syzoj_files("right", "ans")},
         Meant::right},
        {{.what = "wrong",
          .status = 0,
          .out = "0\n",
          .err = std::string(wrong_message) + "\n",
          .prepare = syzoj_files("wrong", "ans")},
         Meant::wrong},
        {{.what = "output ending early",
          .status = 0,
          .out = "0\n",
          .err =
              "the output ended after 3 visible bytes, at line 2, column 2; the answer goes on at line 2, column 3\n",
          .prepare = syzoj_files("short", "ans")},
         Meant::wrong},
        {{.what = "missing output",
          .status = 0,
          .out = "0\n",
          .err = "wrong answer: the output cannot be opened: No such file or directory\n",
          .prepare = syzoj_files(nullptr, "ans")},
         Meant::wrong},
        {{.what = "output unreadable",
          .status = 1,
          .err = failure + "cannot read the output: Input/output error\n",
          .prepare = syzoj_files(nullptr, "ans", "/proc/self/mem")},
         Meant::judge_failure},
        // Out of descriptors: the judge's machine, never the contestant's wrong answer.
        {{.what = "no descriptor left for the output",
          .status = 1,
          .err = failure + "cannot open the output: No file descriptors available\n",
          .prepare =
              [](const std::string& dir, RunOptions& options) {
                  syzoj_files("right", "ans")(dir, options);
                  options.limits.emplace_back(RLIMIT_NOFILE, 3);
              },
          .needs_static = true},
         Meant::judge_failure},
        {{.what = "output a link to the answer",
          .status = 0,
          .out = "0\n",
          .err = "wrong answer: the output is the answer file under another name: " + std::string(same_reason) + "\n",
          .prepare = syzoj_files(nullptr, "ans", "answer")},
         Meant::wrong},
        {{.what = "answer unreadable",
          .status = 1,
          .err = failure + "cannot read the answer: Input/output error\n",
          .prepare = syzoj_files("right", nullptr, nullptr, "/proc/self/mem")},
         Meant::judge_failure},
        {{.what = "missing answer",
          .status = 1,
          .err = failure + "cannot open the answer: No such file or directory\n",
          .prepare = syzoj_files("right", nullptr)},
         Meant::judge_failure},
        {{.what = "standard output a broken pipe",
          .status = 1,
          .err = failure + "cannot write the score: Broken pipe\n",
          .prepare =
              [](const std::string& dir, RunOptions& options) {
                  syzoj_files("right", "ans")(dir, options);
                  options.stdout_descriptor = broken_pipe();
              }},
         Meant::judge_failure},
        {{.what = "closed standard input and error",
          .status = 0,
          .out = "100\n",
          .prepare =
              [](const std::string& dir, RunOptions& options) {
                  syzoj_files("right", "ans")(dir, options);
                  options.closed_descriptors = {0, 2};
              }},
         Meant::right},
    };
}

class Syzoj : public SchoolJudge {};

TEST_P(Syzoj, EverySyzojJudgeReadsTheRowsAsMeant) {
    check(syzoj_rows(), [](const JudgedRow& row, const CheckerRun& run, const std::string&) {
        const SpecialJudgeRun judged = as_judged(run);
        expect_judged("SYZOJ judge", syzoj_judge_reads(judged), row.meant, true);
        expect_judged("LibreOJ legacy", libreoj_legacy_reads(judged), row.meant, true);
        expect_judged("Hydro syzoj", hydro_syzoj_reads(judged), row.meant, true);
        // LibreOJ keeps 256 bytes of the message: the place is in them.
        expect_no_answer_byte(run.err);
        if (row.meant == Meant::wrong && run.err.find("visible byte") != std::string::npos) {
            EXPECT_LT(run.err.find("line"), 256u) << run.err;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Builds, Syzoj,
                         builds(SYZOJ_PATH, SYZOJ_GXX_DROPIN, SYZOJ_CLANG_DROPIN, SYZOJ_HUSTOJ_LINE_DROPIN), test_name);

// LemonLime's own testlib mode: three arguments, the verdict from the word that starts standard
// error (its exit status is not read).
Verdict lemonlime_testlib_reads(const CheckerRun& run) {
    const std::string& err = run.err;
    if (err.rfind("ok", 0) == 0) return Verdict::accepted;
    if (err.rfind("FAIL", 0) == 0) return Verdict::failed;
    if (err.rfind("partially correct (", 0) == 0 || err.rfind("points ", 0) == 0) return Verdict::partial;
    return Verdict::wrong;
}

TEST(LemonLimeTestlibMode, ReadsFilterspaceTestlibAsMeant) {
    const std::vector<JudgedRow> rows = {
        {{.what = "right",
          .args = {"in", "right", "ans"},
          .status = 0,
          .err = "ok " + std::string(right_message) + "\n"},
         Meant::right},
        {{.what = "wrong",
          .args = {"in", "wrong", "ans"},
          .status = 1,
          .err = "wrong answer " + std::string(wrong_message) + "\n"},
         Meant::wrong},
        {{.what = "missing output",
          .args = {"in", "missing", "ans"},
          .status = 2,
          .err = "wrong output format Output file not found: \"missing\"\n"},
         Meant::wrong},
        {{.what = "missing answer",
          .args = {"in", "right", "missing"},
          .status = 3,
          .err = "FAIL cannot open the answer file missing: No such file or directory\n"},
         Meant::judge_failure},
    };
    for (const JudgedRow& row : rows)
        check_row(Variant{"command", TESTLIB_PATH, COMMANDS_STATIC}, row.row,
                  [&](const CheckerRun& run, const std::string&) {
                      expect_judged("LemonLime testlib mode", lemonlime_testlib_reads(run), row.meant, true);
                  });
}

// Each model first reproduces what the facts observed of its judge, so that a wrong model fails.
TEST(JudgeModels, ReproduceTheObservedParses) {
    struct QtCase {
        const char* bytes;
        QtInt::Status status;
        int value;
    };
    for (const QtCase& c : std::vector<QtCase>{{"100", QtInt::ok, 100},
                                               {"100\n", QtInt::ok, 100},
                                               {"\t8\r\n", QtInt::ok, 8},
                                               {" 42", QtInt::ok, 42},
                                               {"\n\n42", QtInt::ok, 42},
                                               {"abc", QtInt::corrupt, 0},
                                               {"- 3", QtInt::corrupt, 0},
                                               {"", QtInt::past_end, 0},
                                               {"   ", QtInt::past_end, 0},
                                               {"5abc", QtInt::ok, 5},
                                               {"50 extra", QtInt::ok, 50},
                                               {"0x10", QtInt::ok, 16},
                                               {"010", QtInt::ok, 8},
                                               {"0b11", QtInt::ok, 3},
                                               {"08", QtInt::ok, 8},
                                               {"+7", QtInt::ok, 7},
                                               {"-3", QtInt::ok, -3},
                                               {"3.7", QtInt::ok, 3},
                                               {"1e2", QtInt::ok, 1},
                                               {"99999999999", QtInt::ok, 1215752191},
                                               {"\xEF\xBB\xBF"
                                                "50",
                                                QtInt::ok, 50}}) {
        const QtInt read = qt_read_int(c.bytes);
        EXPECT_EQ(read.status, c.status) << c.bytes;
        EXPECT_EQ(read.value, c.value) << c.bytes;
    }
    // Hydro: Number(), floored, NaN as 0.
    for (const auto& [bytes, score] : std::vector<std::pair<const char*, double>>{{"100\n", 100},
                                                                                  {" 42 \n", 42},
                                                                                  {"95.5", 95},
                                                                                  {"1e2", 100},
                                                                                  {"0x10", 16},
                                                                                  {"010", 10},
                                                                                  {"5abc", 0},
                                                                                  {"50 extra", 0},
                                                                                  {"abc", 0},
                                                                                  {"", 0},
                                                                                  {"-3", -3}}) {
        const double read = std::floor(js_number(bytes));
        EXPECT_EQ(std::isnan(read) ? 0 : read, score) << bytes;
    }
    // LibreOJ: parseInt of the first 10 bytes.
    for (const auto& [bytes, score] : std::vector<std::pair<const char*, double>>{
             {"95.5", 95}, {"1e2", 1}, {"0x10", 0}, {"5abc", 5}, {"50 extra", 50}})
        EXPECT_EQ(js_parse_int(bytes), score) << bytes;
    EXPECT_TRUE(std::isnan(js_parse_int("abc")));
    // SYZOJ's judge: Number() of the whole output, trailing text rejected.
    EXPECT_EQ(js_number("95.5"), 95.5);
    EXPECT_EQ(js_number(" 42 \n"), 42);
    EXPECT_TRUE(std::isnan(js_number("42 abc")));
    // And the verdicts the facts tell of.
    const auto scored = [](const char* bytes) { return SpecialJudgeRun{true, 0, "", "", std::string(bytes)}; };
    const auto printed = [](const char* bytes) { return SpecialJudgeRun{true, 0, bytes, "", std::nullopt}; };
    const auto killed = [] { return SpecialJudgeRun{false, 0, "", "", std::nullopt}; };
    EXPECT_EQ(lemonlime_reads(scored("010"), 8), Verdict::accepted);
    EXPECT_EQ(lemonlime_reads(scored("abc"), 100), Verdict::failed);
    EXPECT_EQ(lemonlime_reads(scored(""), 100), Verdict::wrong);
    EXPECT_EQ(lemonlime_reads(scored("-3"), 100), Verdict::failed);
    EXPECT_EQ(lemonlime_reads(scored("150"), 100), Verdict::accepted);
    EXPECT_EQ(hydro_lemon_reads(scored("5abc"), 5), Verdict::wrong);
    EXPECT_EQ(hydro_lemon_reads(scored("95.5"), 95), Verdict::accepted);
    EXPECT_EQ(hydro_lemon_reads(SpecialJudgeRun{true, 1, "", "", std::string("100")}, 100), Verdict::failed);
    EXPECT_EQ(libreoj_lemon_reads(scored("1e2")), Verdict::partial);
    EXPECT_EQ(libreoj_lemon_reads(scored("0000000000100")), Verdict::wrong) << "only the first 10 bytes";
    EXPECT_EQ(libreoj_lemon_reads(SpecialJudgeRun{true, 1, "", "", std::string("100")}), Verdict::accepted)
        << "the exit status is not read";
    EXPECT_EQ(libreoj_lemon_reads(scored("")), Verdict::failed);
    EXPECT_EQ(syzoj_judge_reads(printed("1e2")), Verdict::accepted);
    EXPECT_EQ(syzoj_judge_reads(printed("42 abc")), Verdict::failed);
    EXPECT_EQ(libreoj_legacy_reads(printed("1e2")), Verdict::partial);
    EXPECT_EQ(hydro_syzoj_reads(printed("")), Verdict::wrong);
    EXPECT_EQ(hustoj_reads(killed()), Verdict::wrong);
    EXPECT_EQ(libreoj_hustoj_reads(killed()), Verdict::failed);
    EXPECT_TRUE(hustoj_hides("all tests PASS"));
    EXPECT_TRUE(hustoj_hides("see /home/judge/data"));
}

}  // namespace
