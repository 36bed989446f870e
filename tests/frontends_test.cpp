// Black-box tests of the front-ends for other judge systems, each built command and each
// amalgamated drop-in compiled alone: the verdicts, the message with the place, and every
// trouble reported as that protocol's judge error, never as a verdict.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "run_program.h"

namespace {

enum class Verdict { accepted, wrong, judge_error };

struct Judged {
    Verdict verdict;
    std::string message;  // for the judges, or what the protocol shows
    std::string team;     // what the contestant sees, where the protocol tells it apart
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Protocol {
    const char* name;
    const char* path;
    // Runs the front-end on out (a path, or "-" for the stdin descriptor) and ans.
    Judged (*judge)(const Protocol&, const std::string& dir, const std::string& out, const std::string& ans,
                    const std::vector<std::string>& extra, std::optional<int> stdin_fd);
};

CheckerRun run(const Protocol& protocol, const std::vector<std::string>& args, std::optional<int> stdin_fd = {}) {
    const int fd = above_standard(open(protocol.path, O_PATH | O_CLOEXEC));
    RunOptions options;
    options.stdin_descriptor = stdin_fd;
    CheckerRun result = run_program(protocol.path, fd, args, options);
    close(fd);
    return result;
}

// Problem package format: validator input answer feedback_dir [args] < output; 42, 43, else error.
Judged judge_validator(const Protocol& p, const std::string& dir, const std::string& out, const std::string& ans,
                       const std::vector<std::string>& extra, std::optional<int> stdin_fd) {
    const std::string feedback = dir + "/feedback";
    (void)system(("rm -rf " + feedback).c_str());
    mkdir(feedback.c_str(), 0755);
    int input = stdin_fd.value_or(-1);
    if (!stdin_fd) input = open(out.c_str(), O_RDONLY);
    std::vector<std::string> args{dir + "/in", ans, feedback + (extra.empty() ? "" : "/")};
    args.insert(args.end(), extra.begin(), extra.end());
    const CheckerRun r = run(p, args, input);
    if (!stdin_fd && input >= 0) close(input);
    const Verdict v = r.status == 42 ? Verdict::accepted : r.status == 43 ? Verdict::wrong : Verdict::judge_error;
    return {v, read_file(feedback + "/judgemessage.txt"), read_file(feedback + "/teammessage.txt")};
}

// testlib: checker input output answer [result [-appes]]; 0 ok, 1 wrong answer, 3 failure (2, an
// output that cannot be used, is tried in the protocol's own table).
Judged judge_testlib(const Protocol& p, const std::string& dir, const std::string& out, const std::string& ans,
                     const std::vector<std::string>& extra, std::optional<int>) {
    std::vector<std::string> args{dir + "/in", out, ans};
    args.insert(args.end(), extra.begin(), extra.end());
    const CheckerRun r = run(p, args);
    EXPECT_EQ(r.out, "");
    const bool ok = r.status == 0 && r.err.rfind("ok ", 0) == 0;
    const bool wrong = r.status == 1 && r.err.rfind("wrong answer ", 0) == 0;
    const bool failed = r.status == 3 && r.err.rfind("FAIL ", 0) == 0;
    EXPECT_TRUE(ok || wrong || failed) << r.status << ": " << r.err;
    return {ok ? Verdict::accepted : wrong ? Verdict::wrong : Verdict::judge_error, r.err, r.err};
}

// CMS: checker input correct_output contestant_output; outcome on stdout, message on stderr.
Judged judge_cms(const Protocol& p, const std::string& dir, const std::string& out, const std::string& ans,
                 const std::vector<std::string>& extra, std::optional<int>) {
    std::vector<std::string> args{dir + "/in", ans, out};
    args.insert(args.end(), extra.begin(), extra.end());
    const CheckerRun r = run(p, args);
    if (r.status != 0) {
        EXPECT_EQ(r.out, "") << "an outcome beside a failure";
        return {Verdict::judge_error, r.err, r.err};
    }
    const bool accepted = r.out == "1.0\n" && r.err.rfind("translate:success\n", 0) == 0;
    const bool wrong = r.out == "0.0\n" && r.err.rfind("translate:wrong\n", 0) == 0;
    EXPECT_TRUE(accepted || wrong) << r.out << r.err;
    return {accepted ? Verdict::accepted : Verdict::wrong, r.err, r.err};
}

void PrintTo(const Protocol& protocol, std::ostream* os) { *os << protocol.name; }

const Protocol protocols[] = {
    {"validator", VALIDATOR_PATH, judge_validator},
    {"validator_dropin", VALIDATOR_GXX_DROPIN, judge_validator},
    {"testlib", TESTLIB_PATH, judge_testlib},
    {"testlib_dropin", TESTLIB_GXX_DROPIN, judge_testlib},
    {"cms", CMS_PATH, judge_cms},
};

class FrontEnd : public ::testing::TestWithParam<Protocol> {
protected:
    ScratchDirectory scratch;
    const std::string& dir = scratch.path();

    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        ASSERT_FALSE(dir.empty());
    }

    std::string file(const std::string& name, const std::string& content) { return scratch.file(name, content); }

    Judged judge(const std::string& out, const std::string& ans, const std::vector<std::string>& extra = {},
                 std::optional<int> stdin_fd = {}) {
        return GetParam().judge(GetParam(), dir, out, ans, extra, stdin_fd);
    }
};

TEST_P(FrontEnd, VerdictsAndWhereTheFilesPart) {
    const std::string ans = file("ans", "1 2\n3 4\n");
    auto judged = judge(file("right", "12\r\n3\t4"), ans);
    EXPECT_EQ(judged.verdict, Verdict::accepted) << judged.message;

    // A wrong byte: its place in each file, and never a byte of the answer for the team.
    judged = judge(file("wrong", "1 2\n\n3 5\n"), ans);
    EXPECT_EQ(judged.verdict, Verdict::wrong);
    EXPECT_NE(judged.team.find("visible byte 4: line 3, column 3 of the output; line 2, column 3 of the answer"),
              std::string::npos)
        << judged.team;
    EXPECT_EQ(judged.team.find("3 4"), std::string::npos) << "the answer shown to the team: " << judged.team;

    // An output that ends early, and one that goes on.
    judged = judge(file("short", "1 2\n3"), ans);
    EXPECT_EQ(judged.verdict, Verdict::wrong);
    EXPECT_NE(judged.team.find("the output ended after 3 visible bytes, at line 2, column 2"), std::string::npos)
        << judged.team;
    judged = judge(file("long", "1 2 3 4 5"), ans);
    EXPECT_EQ(judged.verdict, Verdict::wrong);
    EXPECT_NE(judged.team.find("the output goes on past the answer's 4 visible bytes, at line 1, column 9"),
              std::string::npos)
        << judged.team;
}

// The output's trouble and an output that is the answer differ by protocol: each protocol's table.
TEST_P(FrontEnd, AnswerTroubleIsAJudgeErrorNeverAVerdict) {
    const std::string out = file("out", "");  // right, were the answer read
    EXPECT_EQ(judge(out, dir + "/missing").verdict, Verdict::judge_error) << "missing answer";
    EXPECT_EQ(judge(out, dir).verdict, Verdict::judge_error) << "answer is a directory";
    EXPECT_EQ(judge(out, "/proc/self/mem").verdict, Verdict::judge_error) << "answer unreadable";
    const std::string ans = file("ans", " \n");
    // Too few arguments: each protocol's own judge error.
    const CheckerRun bad = run(GetParam(), {dir + "/in", ans});
    const std::string name = GetParam().name;
    if (name.rfind("validator", 0) == 0) {
        EXPECT_TRUE(bad.status != 42 && bad.status != 43) << bad.status;
    } else if (name.rfind("testlib", 0) == 0) {
        EXPECT_EQ(bad.status, 3);
    } else {
        EXPECT_TRUE(bad.status != 0 && bad.out.empty()) << bad.status << bad.out;
    }
}

// The validator's flags of the default validator, and the fourth argument CMS passes, are set
// aside; testlib counts its arguments, and more than it takes is the judge's failure.
TEST_P(FrontEnd, ExtraArguments) {
    const std::string ans = file("ans", "a b");
    const std::vector<std::string> extra = {"case_sensitive", "float_tolerance", "1e-6", "-appes"};
    const bool counted = std::string(GetParam().name).rfind("testlib", 0) == 0;
    EXPECT_EQ(judge(file("right", "ab"), ans, extra).verdict, counted ? Verdict::judge_error : Verdict::accepted);
    EXPECT_EQ(judge(file("wrong", "ac"), ans, extra).verdict, counted ? Verdict::judge_error : Verdict::wrong);
}

INSTANTIATE_TEST_SUITE_P(Protocols, FrontEnd, ::testing::ValuesIn(protocols),
                         [](const testing::TestParamInfo<Protocol>& info) { return std::string(info.param.name); });

// The team output arrives on standard input, as a pipe that is still being written.
TEST(Validator, TeamOutputFromAPipe) {
    signal(SIGPIPE, SIG_IGN);
    const ScratchDirectory scratch;
    const std::string& dir = scratch.path();
    const std::string ans = scratch.file("ans", "1 2 3\n");
    for (const Protocol& validator : {protocols[0], protocols[1]}) {
        for (const std::string& content : {std::string("1\n2\n3"), std::string("1\n2\n4")}) {
            int ends[2];
            ASSERT_EQ(pipe(ends), 0);
            std::thread writer([&] {
                for (char c : content) {
                    if (write(ends[1], &c, 1) != 1) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                close(ends[1]);
            });
            const auto judged = validator.judge(validator, dir, "-", ans, {}, ends[0]);
            close(ends[0]);
            writer.join();
            EXPECT_EQ(judged.verdict, content.back() == '3' ? Verdict::accepted : Verdict::wrong)
                << validator.name << ": " << content;
        }
    }
}

}  // namespace
