"""A DMOJ checker by the visible-byte rule: a problem's checker.py (init.yml: `checker: checker.py`).

DMOJ calls check() inside the judge with the contestant's output and the judge's answer as bytes;
filterspace compares them where they stand, with no process started, and the feedback tells the
contestant where the first difference is, without a byte of the answer. Install the module into
the judge's own environment first (see doc/judges/dmoj.md)."""
import filterspace

try:
    from dmoj.result import CheckerResult
except ImportError:  # outside DMOJ (this file's tests): the same three fields
    from collections import namedtuple

    CheckerResult = namedtuple("CheckerResult", "passed points feedback")


def characters(count):
    return f"{count} visible character" + ("" if count == 1 else "s")


def feedback_for(result):
    """Where the output and the answer part, in words a contestant reads; empty when they match."""
    out, ans = result.output, result.answer
    if result.same:
        return ""
    if out.at_end:
        return (f"your output ended after {characters(out.visible_byte - 1)} (line {out.line}); "
                f"more was expected")
    if ans.at_end:
        return (f"your output goes on past the expected {characters(ans.visible_byte - 1)}, at line {out.line}, "
                f"column {out.column}")
    return f"first difference at visible character {out.visible_byte}: line {out.line}, column {out.column} of your output"


def check(process_output, judge_output, point_value=1, **kwargs):
    result = filterspace.compare(process_output, judge_output)
    return CheckerResult(bool(result), point_value if result else 0, feedback_for(result))
