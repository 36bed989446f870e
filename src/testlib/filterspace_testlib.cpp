// Checker in the testlib style, as testlib's own checkers behave:
//   filterspace_testlib [--testset T] [--group G] input output answer [result_file [-appes]]
// Outcomes and exit codes: ok 0, wrong answer 1 (with where the files part), wrong output format 2
// (an output that cannot be opened or read: the contestant's fault), FAIL 3 (a bad call, an
// answer that cannot be opened or read, or an output that the machine's trouble keeps from being
// opened or read: the judge's). Without a result file the outcome and its
// message go to standard error; with one, the message goes to the file (as testlib's XML with
// -appes) and standard error says to see it. Compiled with -DEJUDGE, the exit codes are
// ejudge's and the result file is ignored, as in testlib.
#ifdef _MSC_VER
#error "Compile this checker with MinGW-w64 g++ (-std=c++14): Microsoft's compiler is not supported."
#endif

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "inputs.h"
#include "pair.h"
#include "position.h"
#include "text.h"

namespace {

enum class Outcome { ok, wrong_answer, presentation_error, fail };

struct OutcomeText {
    const char* word;   // before the message on standard error
    const char* appes;  // the outcome attribute of the XML result
    int status;
};

#ifdef EJUDGE
constexpr OutcomeText outcomes[] = {{"ok", "accepted", 0},
                                    {"wrong answer", "wrong-answer", 5},
                                    {"wrong output format", "presentation-error", 4},
                                    {"FAIL", "fail", 6}};
#else
constexpr OutcomeText outcomes[] = {{"ok", "accepted", 0},
                                    {"wrong answer", "wrong-answer", 1},
                                    {"wrong output format", "presentation-error", 2},
                                    {"FAIL", "fail", 3}};
#endif

// Where the outcome goes: the result file, when the call names one.
struct Result {
    const char* path = nullptr;
    bool appes = false;
};

#ifndef EJUDGE  // testlib built for ejudge writes no result file
// The UTF-8 sequence at c: its code point and length. An invalid one (a bad lead byte, cut short,
// overlong, a surrogate, past U+10FFFF) is U+FFFD, as long as its longest valid start and at least
// one byte, as decoders that follow the Unicode standard's practice replace it. Stops at a NUL.
struct Decoded {
    uint32_t code;
    int length;
};
Decoded decode_utf8(const unsigned char* c) {
    constexpr Decoded invalid{0xFFFD, 1};
    int length = 0;
    uint32_t code = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c[0] >= 0xC2 && c[0] <= 0xDF) {
        length = 2, code = c[0] & 0x1Fu;
    } else if (c[0] >= 0xE0 && c[0] <= 0xEF) {
        length = 3, code = c[0] & 0x0Fu;
        low = c[0] == 0xE0 ? 0xA0 : low;    // not overlong
        high = c[0] == 0xED ? 0x9F : high;  // no surrogate
    } else if (c[0] >= 0xF0 && c[0] <= 0xF4) {
        length = 4, code = c[0] & 0x07u;
        low = c[0] == 0xF0 ? 0x90 : low;    // not overlong
        high = c[0] == 0xF4 ? 0x8F : high;  // not past U+10FFFF
    } else {
        return invalid;
    }
    for (int k = 1; k < length; ++k) {
        if (c[k] < low || c[k] > high) return {invalid.code, k};
        code = code << 6 | (c[k] & 0x3Fu);
        low = 0x80, high = 0xBF;
    }
    return {code, length};
}

// The message as testlib's XML writes it: markup characters as entities, control bytes as dots,
// and, since the XML declares windows-1251, each character outside ASCII (UTF-8 in the message:
// a path) as a numeric character reference, one that XML 1.0 allows: an invalid sequence, and
// the noncharacters U+FFFE and U+FFFF, as U+FFFD.
bool write_xml_escaped(FILE* to, const char* text) {
    for (const auto* c = reinterpret_cast<const unsigned char*>(text); *c != '\0'; ++c) {
        int put = 0;
        if (*c >= 0x80) {
            const Decoded decoded = decode_utf8(c);
            const uint32_t code = decoded.code == 0xFFFE || decoded.code == 0xFFFF ? 0xFFFD : decoded.code;
            put = fprintf(to, "&#%u;", static_cast<unsigned>(code));
            c += decoded.length - 1;
        } else {
            put = *c == '&'   ? fputs("&amp;", to)
                  : *c == '<' ? fputs("&lt;", to)
                  : *c == '>' ? fputs("&gt;", to)
                  : *c == '"' ? fputs("&quot;", to)
                  : *c < 32   ? fputc('.', to)
                              : fputc(*c, to);
        }
        if (put < 0) return false;
    }
    return true;
}

bool write_result(const Result& result, const OutcomeText& outcome, const char* message) {
    FILE* file = create_text_file(result.path);
    if (file == nullptr) return false;
    const bool written = result.appes ? fprintf(file,
                                                "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
                                                "<result outcome = \"%s\">",
                                                outcome.appes) > 0 &&
                                            write_xml_escaped(file, message) && fputs("</result>\n", file) != EOF
                                      : fputs(message, file) != EOF;
    return fclose(file) == 0 && written;
}
#endif

// Ends the run with an outcome, as testlib's quit() does. Returns the exit status.
int quit(const Result& result, Outcome outcome, const Text& message) {
    const OutcomeText& text = outcomes[static_cast<int>(outcome)];
#ifndef EJUDGE
    if (result.path != nullptr) {
        if (!write_result(result, text, message.str())) {
            (void)fputs("FAIL Can not write to the result file\n", stderr);
            return outcomes[static_cast<int>(Outcome::fail)].status;
        }
        (void)fputs("\nSee file to check exit message\n", stderr);
        return text.status;
    }
#else
    (void)result;
#endif
    (void)fprintf(stderr, "%s %s\n", text.word, message.str());
    return text.status;
}

constexpr char usage[] =
    "usage: filterspace_testlib [--testset T] [--group G] input output answer [result_file [-appes]]";

// --help as the first argument, as testlib's checkers take it: the help on standard error, and
// the run ends as a failure.
int help() {
    (void)fprintf(stderr,
                  "filterspace_testlib: a testlib-style checker by the visible-byte rule: only the bytes 0x21 to "
                  "0x7E of the output and the answer count, every other byte is ignored wherever it stands.\n"
                  "\n"
                  "Program must be run with the following arguments: \n"
                  "    [--testset testset] [--group group] <input-file> <output-file> <answer-file> "
                  "[<report-file> [<-appes>]]\n\n");
    return outcomes[static_cast<int>(Outcome::fail)].status;
}

// The call, once --testset and --group (each with the value after it, anywhere) are set aside:
// three to five files, the fifth -appes. A refused call is told as a failure; -1 for a valid one.
int read_call(int argc, char** argv, const char* (&files)[5], Result& result) {
    int count = 0;
    const Result no_result;
    for (int i = 1; i < argc; ++i) {
        const bool testset = strcmp(argv[i], "--testset") == 0;
        if (testset || strcmp(argv[i], "--group") == 0) {
            if (i + 1 == argc || (testset && argv[i + 1][0] == '\0'))
                return quit(no_result, Outcome::fail,
                            Text("%s needs a %svalue; %s", argv[i], testset ? "non-empty " : "", usage));
            ++i;
        } else if (count == 5) {
            return quit(no_result, Outcome::fail, Text("too many arguments; %s", usage));
        } else {
            files[count++] = argv[i];
        }
    }
    if (count < 3) return quit(no_result, Outcome::fail, Text("too few arguments; %s", usage));
#ifndef EJUDGE  // testlib built for ejudge takes no result file, and does not read a fifth argument
    if (count == 5 && strcmp(files[4], "-appes") != 0 && strcmp(files[4], "-APPES") != 0)
        return quit(no_result, Outcome::fail, Text("the fifth argument must be -appes, not %s; %s", files[4], usage));
    if (count >= 4) result = {files[3], count == 5};
#else
    (void)result;
#endif
    return -1;
}

// The pair told: the output is the contestant's, and trouble with it is a presentation error,
// unless it is the judge's machine's; the answer is the judge's, and trouble with it a failure.
int told(const Result& result, const char* output_path, const char* answer_path, const Pair& pair) {
    char position[512];
    switch (pair.outcome) {
        case PairOutcome::same:
            return quit(result, Outcome::ok, visible_bytes_match(pair.where.out.visible));
        case PairOutcome::differ:
            return quit(result, Outcome::wrong_answer,
                        Text("%s", describe_position(position, sizeof position, pair.where)));
        case PairOutcome::output_is_answer:
            return quit(
                result, Outcome::presentation_error,
                Text("the output file %s is the answer file under another name: %s", output_path, same_file_reason()));
        case PairOutcome::output_unopened:
        case PairOutcome::output_unreadable:
            if (pair.outcome == PairOutcome::output_unopened && pair.error == ENOENT && !pair.machine_trouble())
                return quit(result, Outcome::presentation_error, Text("Output file not found: \"%s\"", output_path));
            return quit(result, pair.machine_trouble() ? Outcome::fail : Outcome::presentation_error,
                        Text("cannot %s the output file %s: %s", pair.step(), output_path, pair.reason()));
        case PairOutcome::answer_unopened:
        case PairOutcome::answer_unreadable:
            break;
    }
    return quit(result, Outcome::fail,
                Text("cannot %s the answer file %s: %s", pair.step(), answer_path, pair.reason()));
}

}  // namespace

int main(int argc, char** argv) {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    argv = arguments_in_utf8(argc, argv);
    if (argc > 1 && strcmp(argv[1], "--help") == 0) return help();
    const char* files[5] = {};
    Result result;
    const int refused = read_call(argc, argv, files, result);
    if (refused >= 0) return refused;
    // The input is not needed and is not opened.
    return told(result, files[1], files[2], open_and_compare(files[1], files[2]));
}
