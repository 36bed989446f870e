// Small models of how the school judges read a special judge's results, from the facts gathered
// on each judge's code: LemonLime's integer read of the score file, Hydro's and LibreOJ's number
// parsing, which exit statuses count, and HUSTOJ's rule for hiding a message. Each model is held
// to the parse tables those facts observed (JudgeModels.* in the protocol tests) before it
// judges a front-end's rows.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>

enum class Verdict { accepted, partial, wrong, failed };

// What a special judge left: how it ended, its standard streams, and the files it wrote.
struct SpecialJudgeRun {
    bool exited = true;  // else killed by a signal
    int status = 0;
    std::string out, err;
    std::optional<std::string> score_file;
};

// ---- Number parsing as the judges do it.

// Qt's QTextStream >> int: white space (and a byte-order mark) skipped, an optional sign, then
// 0x/0b prefixes and a leading 0 followed by octal digits honoured, as many digits as fit the
// base, the value wrapped to 32 bits. Nothing but white space: past the end (0, not an error);
// no digit: corrupt data.
struct QtInt {
    enum Status { ok, past_end, corrupt } status;
    int value;
};
inline QtInt qt_read_int(std::string text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    size_t i = text.find_first_not_of(" \t\r\n\v\f");
    if (i == std::string::npos) return {QtInt::past_end, 0};
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16, i += 2;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'b' || text[i + 1] == 'B')) {
        base = 2, i += 2;
    } else if (i + 1 < text.size() && text[i] == '0' && text[i + 1] >= '0' && text[i + 1] <= '7') {
        base = 8, i += 1;
    }
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        const char c = text[i];
        const unsigned digit = c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
                               : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                               : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                      : 99;
        if (digit >= base) break;
        value = value * base + digit;
    }
    if (digits == 0) return {QtInt::corrupt, 0};
    return {QtInt::ok, static_cast<int>(negative ? 0u - value : value)};
}

// JavaScript's Number(text): white space trimmed, empty is 0, decimal with fraction and exponent,
// or 0x/0b/0o integers; anything else NaN.
inline double js_number(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return 0;
    const std::string trimmed = text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
    static const std::regex decimal(R"([+-]?(Infinity|([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?))");
    if (std::regex_match(trimmed, decimal))
        return trimmed.find("Infinity") != std::string::npos ? (trimmed[0] == '-' ? -INFINITY : INFINITY)
                                                             : std::stod(trimmed);
    static const std::regex prefixed("0([xX][0-9a-fA-F]+|[bB][01]+|[oO][0-7]+)");
    if (std::regex_match(trimmed, prefixed)) {
        const int base = trimmed[1] == 'x' || trimmed[1] == 'X' ? 16 : trimmed[1] == 'b' || trimmed[1] == 'B' ? 2 : 8;
        return static_cast<double>(std::stoull(trimmed.substr(2), nullptr, base));
    }
    return NAN;
}

// JavaScript's parseInt(text, 10): leading white space, a sign, the decimal digits that follow;
// NaN without one.
inline double js_parse_int(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\r\n\v\f");
    if (i == std::string::npos) return NAN;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    double value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) value = value * 10 + (text[i] - '0');
    if (digits == 0) return NAN;
    return negative ? -value : value;
}

// ---- Lemon protocol: the score file against the full score passed.

inline Verdict lemonlime_reads(const SpecialJudgeRun& run, long full) {
    if (!run.exited || run.status != 0 || !run.score_file) return Verdict::failed;  // invalid, run-time error
    const QtInt read = qt_read_int(*run.score_file);
    if (read.status == QtInt::corrupt || read.value < 0) return Verdict::failed;
    if (read.value == 0) return Verdict::wrong;
    return read.value >= full ? Verdict::accepted : Verdict::partial;
}

inline Verdict hydro_lemon_reads(const SpecialJudgeRun& run, double full) {
    if (!run.exited || run.status != 0) return Verdict::failed;  // System Error
    double score = run.score_file ? std::floor(js_number(*run.score_file)) : 0;
    if (std::isnan(score)) score = 0;
    return score == full ? Verdict::accepted : Verdict::wrong;
}

// LibreOJ passes 100 as the full score, and reads at most 10 bytes of the score file.
inline Verdict libreoj_lemon_reads(const SpecialJudgeRun& run) {
    if (!run.exited || !run.score_file || run.score_file->empty()) return Verdict::failed;  // exit status ignored
    const double score = js_parse_int(run.score_file->substr(0, 10));
    if (std::isnan(score) || score < 0 || score > 100) return Verdict::failed;
    return score == 100 ? Verdict::accepted : score == 0 ? Verdict::wrong : Verdict::partial;
}

// ---- HUSTOJ protocol: the exit status.

inline Verdict hustoj_reads(const SpecialJudgeRun& run) {
    return run.exited && run.status == 0 ? Verdict::accepted : Verdict::wrong;  // a signal too is wrong
}
inline Verdict hydro_hustoj_reads(const SpecialJudgeRun& run) {
    return run.exited && run.status == 0 ? Verdict::accepted : Verdict::wrong;
}
inline Verdict libreoj_hustoj_reads(const SpecialJudgeRun& run) {
    if (!run.exited) return Verdict::failed;
    return run.status == 0 ? Verdict::accepted : Verdict::wrong;
}
// HUSTOJ's page replaces a message that holds any of these by a fixed text; it uploads lines of
// at most 1,023 bytes.
inline bool hustoj_hides(const std::string& message) {
    return message.find("judge/") != std::string::npos || message.find("php") != std::string::npos ||
           message.find("PASS") != std::string::npos;
}

// ---- SYZOJ "legacy" protocol: the score on standard output, 0 to 100.

inline Verdict syzoj_judge_reads(const SpecialJudgeRun& run) {
    if (!run.exited || run.out.empty()) return Verdict::failed;  // exit status ignored
    const double score = js_number(run.out);
    if (std::isnan(score) || score < 0 || score > 100) return Verdict::failed;
    return score == 100 ? Verdict::accepted : score == 0 ? Verdict::wrong : Verdict::partial;
}
inline Verdict libreoj_legacy_reads(const SpecialJudgeRun& run) {
    if (!run.exited || run.out.empty()) return Verdict::failed;
    const double score = js_parse_int(run.out.substr(0, 10));
    if (std::isnan(score) || score < 0 || score > 100) return Verdict::failed;
    return score == 100 ? Verdict::accepted : score == 0 ? Verdict::wrong : Verdict::partial;
}
inline Verdict hydro_syzoj_reads(const SpecialJudgeRun& run) {
    if (!run.exited || run.status != 0) return Verdict::failed;  // System Error
    return js_number(run.out) == 100 ? Verdict::accepted : Verdict::wrong;
}
