// The eval record and the end of every run.
#pragma once

// The record's descriptor: -1 until open_files has opened it, and whenever that failed.
extern int fpeval;

inline constexpr char eval_record_path[] = "/tmp/_eval.score";
inline constexpr int full_score = 10;

// Writes the verdict to the record when it is open ("%s\n%d\n"), closes it and ends the
// process: status 1 when score is not zero, 0 otherwise.
[[noreturn]] void output(const char* message, int score);

// The six verdicts' messages; the scores are full_score for right_output and 0 for the rest.
inline constexpr char invalid_call[] = "Invalid Call!";
inline constexpr char record_unopenable[] = "Can not open eval record file!";
inline constexpr char output_unopenable[] = "Can not open player's output file!";
inline constexpr char answer_unopenable[] = "Can not open standard answer!";
inline constexpr char wrong_answer[] = "Wrong Answer";
inline constexpr char right_output[] = "Right Output!!!";
