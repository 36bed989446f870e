// Black-box tests of filterspace_cmp: the status, and where it says two files part.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include "run_program.h"

namespace {

class Cmp : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    const std::string& dir = scratch.path();

    void SetUp() override { ASSERT_FALSE(dir.empty()); }

    std::string file(const std::string& name, const std::string& content) { return scratch.file(name, content); }

    static CheckerRun cmp(const std::vector<std::string>& args, const RunOptions& options = {}) {
        static const int fd = above_standard(open(CMP_PATH, O_PATH | O_CLOEXEC));
        return run_program(CMP_PATH, fd, args, options);
    }

    // The report for two files written under the names a and b, run from their directory.
    std::string report(const std::string& out, const std::string& ans) {
        file("a", out);
        file("b", ans);
        char previous[4096];
        EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
        EXPECT_EQ(chdir(dir.c_str()), 0);
        const CheckerRun run = cmp({"a", "b"});
        EXPECT_EQ(chdir(previous), 0);
        EXPECT_EQ(run.status, 1) << run.err;
        return run.out;
    }
};

TEST_F(Cmp, StatusSameDifferTrouble) {
    const std::string one = file("one", "1 2\r\n"), same = file("same", "12"), other = file("other", "13");
    struct Case {
        std::vector<std::string> args;
        int status;
        bool prints;  // on standard output
    };
    const Case cases[] = {
        {{one, same}, 0, false},
        {{one, one}, 0, false},  // the same file is simply the same
        {{one, other}, 1, true},
        {{"-s", one, other}, 1, false},
        {{"--quiet", one, other}, 1, false},
        {{one, dir + "/missing"}, 2, false},
        {{dir, one}, 2, false},
        {{"-x", one, other}, 2, false},
        {{one}, 2, false},
        {{one, other, same}, 2, false},
        {{"-", "-"}, 2, false},
        {{"--help"}, 0, true},
        {{"--version"}, 0, true},
    };
    for (const auto& c : cases) {
        const CheckerRun run = cmp(c.args);
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(!run.out.empty(), c.prints) << run.out;
        // Trouble is one line on standard error, or two for a bad call (with the hint to --help).
        if (c.status == 2) {
            EXPECT_EQ(run.err.rfind("filterspace_cmp: ", 0), 0u) << run.err;
        } else {
            EXPECT_EQ(run.err, "");
        }
    }
    // After --, a name that starts with - is a file's.
    file("-s", "13");
    RunOptions in_dir;
    in_dir.directory = dir;
    EXPECT_EQ(cmp({"--", "-s", other}, in_dir).status, 0) << "-s read as an option";
}

// --notes tells what the rule ignored, on a match and after a difference (up to it only); --lint
// tells, for each file alone, what the rule would ignore in it as an answer. The statuses stay
// cmp's, and -s silences the notes too.
TEST_F(Cmp, NotesAndLintTellWhatTheRuleIgnored) {
    file("ans", "1 2\n3 4\n");
    file("split", "12\n34\n");
    file("odd_wrong", "1\x01 2\n3 5\x7F\n");  // the DEL after the difference is never read for the notes
    file("nul", std::string("1 2\0\n3 4", 8));
    file("blank", " \n");
    file("utf8", "1 \xE4\xBD\xA0\xE5\xA5\xBD\n");
    file("marked", "\xEF\xBB\xBF\xC3\xA9" + std::string(17, 'a'));  // 2 of 19 bytes past the mark: over a tenth
    const std::string split_note =
        "note: the files split the same visible bytes into tokens differently at 2 places (as \"1 2\" against "
        "\"12\"); the first at visible byte 2: line 1, column 2 of the output, line 1, column 3 of the answer\n";
    const std::string utf8_notes =
        "note: utf8 holds 6 bytes from 0x80 up (not ASCII), the first at line 1, column 3\n"
        "note: utf8 is 66% bytes from 0x80 up: the rule ignores them and compares only its ASCII\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{"--notes", "split", "ans"},
         0,
         split_note + "  split:1:2: 12\n              ^\n  ans:1:3: 1 2\n             ^\n"},
        {{"--notes", "ans", "ans"}, 0, ""},
        {{"--notes", "nul", "ans"}, 0, "note: the output holds 1 NUL byte, the first at line 1, column 4\n"},
        {{"--notes", "odd_wrong", "ans"},
         1,
         "odd_wrong ans differ: visible byte 4\n  odd_wrong:2:3: 3 5\\x7F\n                   ^\n  ans:2:3: 3 4\n"
         "             ^\n"
         "note: the output holds 1 control byte other than white space, the first at line 1, column 2\n"
         "note: these notes cover the output up to its first difference and the answer to its end\n"},
        {{"split", "ans"}, 0, ""},
        {{"-s", "--notes", "split", "ans"}, 0, ""},
        {{"--lint", "ans", "utf8", "blank"},
         1,
         utf8_notes + "note: blank has no visible byte: any output of white space alone matches it\n"},
        {{"--lint", "ans", "split"}, 0, ""},
        {{"--lint", "marked"},
         1,
         "note: marked starts with a UTF-8 byte-order mark\nnote: marked holds 2 bytes from 0x80 up (not ASCII), the "
         "first at line 1, column 4\nnote: marked is 10% bytes from 0x80 up: the rule ignores them and compares only "
         "its ASCII\n"},
        {{"--lint", "-s", "utf8"}, 1, ""},
        {{"--lint", "missing", "utf8"}, 2, utf8_notes},  // the others are still linted
        {{"--lint", "--notes", "ans"}, 2, ""},
        {{"--lint"}, 2, ""},
        {{"--lint", "-", "-"}, 2, ""},
    };
    RunOptions in_dir;
    in_dir.directory = dir;
    for (const auto& c : cases) {
        const CheckerRun run = cmp(c.args, in_dir);
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err.empty(), c.status != 2) << run.err;
    }
}

// The excerpt is the place's own line: a newline starts it afresh (no "..." carried over from a
// long line read before it), and DEL, which the rule ignores, is escaped like the control bytes.
TEST_F(Cmp, ExcerptOfThePlacesLine) {
    const std::string long_line(256 << 10, 'A');  // a whole read: the newline comes in the next one
    EXPECT_EQ(report(long_line + "\nx\n", long_line + "\ny\n"),
              "a b differ: visible byte 262145\n  a:2:1: x\n         ^\n  b:2:1: y\n         ^\n");
    // Exactly as many bytes before the place as an excerpt holds: nothing was cut.
    const std::string forty(40, 'a');
    EXPECT_EQ(report(forty + "x", forty + "y"), "a b differ: visible byte 41\n  a:1:41: " + forty + "x\n" +
                                                    std::string(50, ' ') + "^\n  b:1:41: " + forty + "y\n" +
                                                    std::string(50, ' ') + "^\n");
    // Escaped bytes before the place: the caret under it still, each escape as wide as shown.
    EXPECT_EQ(report("1\t\r\x7f"
                     "2",
                     "13"),
              "a b differ: visible byte 2\n  a:1:5: 1\\t\\r\\x7F2\n                  ^\n  b:1:2: 13\n          ^\n");
}

// A closed standard descriptor is held before anything is opened: - on a closed standard input is
// trouble, never the next file opened read as standard input (a file against itself, or its
// first block against its second), and a closed standard output never takes a file's number,
// whose report would then fail.
TEST_F(Cmp, ClosedStandardDescriptors) {
    const std::string twice = std::string(256 << 10, 'a') + std::string(256 << 10, 'a');
    const std::string small = file("small", "12"), doubled = file("doubled", twice), other = file("other", "13");
    struct Case {
        std::vector<int> closed;
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::string closed_input = "filterspace_cmp: -: standard input is closed\n";
    const Case cases[] = {
        {{0}, {small, "-"}, 2, closed_input},
        {{0}, {doubled, "-"}, 2, closed_input},
        {{0}, {"-", small}, 2, closed_input},
        {{0, 1, 2}, {"-s", small, "-"}, 2, ""},
        {{0}, {small, "/dev/stdin"}, 2, "filterspace_cmp: /dev/stdin: Bad file descriptor\n"},
        {{0}, {small, small}, 0, ""},
        {{1}, {small, other}, 1, ""},
        {{1, 2}, {small, other}, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back() + ", closed " + std::to_string(c.closed.size()));
        const CheckerRun run = cmp(c.args, closing(c.closed));
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.status, c.status);
        if (c.closed.back() != 2) {
            EXPECT_EQ(run.err, c.err);
        }
    }
}

// Trouble names the file it came from and says why, whichever side it is on; the quiet options
// print nothing on a difference.
TEST_F(Cmp, TroubleNamesItsFileAndItsReason) {
    const std::string one = file("one", "1"), other = file("other", "2");
    const std::string missing = dir + "/missing";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{missing, one}, 2, "filterspace_cmp: " + missing + ": No such file or directory\n"},
        {{one, missing}, 2, "filterspace_cmp: " + missing + ": No such file or directory\n"},
        {{dir, one}, 2, "filterspace_cmp: " + dir + ": Is a directory\n"},
        {{one, dir}, 2, "filterspace_cmp: " + dir + ": Is a directory\n"},
        {{"/proc/self/mem", one}, 2, "filterspace_cmp: /proc/self/mem: Input/output error\n"},
        {{one, "/proc/self/mem"}, 2, "filterspace_cmp: /proc/self/mem: Input/output error\n"},
        {{"-s", one, other}, 1, ""},
        {{"--silent", one, other}, 1, ""},
        {{"--quiet", one, other}, 1, ""},
    };
    for (const auto& c : cases) {
        const CheckerRun run = cmp(c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, "");
        std::string err = run.err;  // musl's words for EIO, where the command is linked with it
        if (const size_t at = err.find("I/O error"); at != std::string::npos) err.replace(at, 9, "Input/output error");
        EXPECT_EQ(err, c.err);
    }
    // A report that cannot be written is trouble, with its reason.
    RunOptions full;
    full.stdout_descriptor = above_standard(open("/dev/full", O_WRONLY | O_CLOEXEC));
    const CheckerRun unwritten = cmp({one, other}, full);
    close(*full.stdout_descriptor);
    EXPECT_EQ(unwritten.status, 2);
    EXPECT_EQ(unwritten.err, "filterspace_cmp: standard output: No space left on device\n");
}

TEST_F(Cmp, PlaceInEachFile) {
    // In the first byte.
    EXPECT_EQ(report("x1", "y1"),
              "a b differ: visible byte 1\n"
              "  a:1:1: x1\n"
              "         ^\n"
              "  b:1:1: y1\n"
              "         ^\n");
    // Each file's own lines and columns, after CRLF line ends and blank lines; what the rule
    // ignores is shown escaped.
    EXPECT_EQ(report("a\r\n\r\n\tb\x80\x01 c\r\n", "ab\n d\n"),
              "a b differ: visible byte 3\n"
              "  a:3:6: \\tb\\x80\\x01 c\\r\n"
              "                     ^\n"
              "  b:2:2:  d\n"
              "          ^\n");
    // Shorter output, then longer: the file that ended says so, at its own end.
    EXPECT_EQ(report("1 2\n", "1 2 3"),
              "a b differ: visible byte 3\n"
              "  a:2:1: \n"
              "         ^ end of file\n"
              "  b:1:5: 1 2 3\n"
              "             ^\n");
    EXPECT_EQ(report("1 2 3", "1 2"),
              "a b differ: visible byte 3\n"
              "  a:1:5: 1 2 3\n"
              "             ^\n"
              "  b:1:4: 1 2\n"
              "            ^ end of file\n");
    // In the middle of a long line: cut around the place, the caret still under the byte.
    std::string digits;
    for (int i = 0; i < 200; ++i) digits += static_cast<char>('0' + i % 10);
    std::string changed = digits;
    changed[120] = 'x';
    const std::string shown_before = "..." + digits.substr(80, 40);
    EXPECT_EQ(report(changed, digits),
              "a b differ: visible byte 121\n"
              "  a:1:121: " +
                  shown_before + "x" + digits.substr(121, 39) + "...\n" + std::string(11 + shown_before.size(), ' ') +
                  "^\n" + "  b:1:121: " + shown_before + digits.substr(120, 40) + "...\n" +
                  std::string(11 + shown_before.size(), ' ') + "^\n");
}

// Past the 256 KiB reads, in the compacted comparison of CRLF against LF, with the output once
// a regular file and once a pipe: the place is counted the same way.
TEST_F(Cmp, PlacePastReadBoundariesFromAFileAndAPipe) {
    std::string out, ans;
    for (int line = 0; line < 100000; ++line) {
        out += std::to_string(line) + "\r\n";
        ans += std::to_string(line) + (line % 2 ? " " : "\n");
    }
    const size_t at = out.find("\r\n77777\r\n") + 4;  // the third 7 of line 77778
    out[at] = '0';
    const std::string want_out = "  -:77778:3: 77077\\r\n";
    const std::string out_path = file("out", out), ans_path = file("ans", ans);

    const CheckerRun from_file = cmp({out_path, ans_path});
    EXPECT_EQ(from_file.status, 1);
    EXPECT_NE(from_file.out.find(out_path + ":77778:3: 77077\\r\n"), std::string::npos) << from_file.out;
    EXPECT_NE(from_file.out.find(ans_path + ":38890:3: 77777 77778\n"), std::string::npos) << from_file.out;

    signal(SIGPIPE, SIG_IGN);  // the command stops reading at the difference
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        for (size_t put = 0; put < out.size();) {
            const ssize_t n = write(ends[1], out.data() + put, std::min<size_t>(4099, out.size() - put));
            if (n <= 0) break;
            put += static_cast<size_t>(n);
        }
        close(ends[1]);
    });
    RunOptions from_pipe;
    from_pipe.stdin_descriptor = ends[0];
    const CheckerRun piped = cmp({"-", ans_path}, from_pipe);
    close(ends[0]);
    writer.join();
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.out.substr(0, piped.out.find('\n') + 1),
              "- " + ans_path + " differ: visible byte " +
                  from_file.out.substr(from_file.out.find("byte ") + 5,
                                       from_file.out.find('\n') - from_file.out.find("byte ") - 4));
    EXPECT_NE(piped.out.find(want_out), std::string::npos) << piped.out;
}

}  // namespace
