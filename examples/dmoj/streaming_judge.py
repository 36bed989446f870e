"""Judging a program's output as it arrives, without keeping it: a judge that runs the contestant's
program reads its standard output from a pipe, hands each piece to a filterspace.Stream, and has
the verdict when the program ends. Memory stays the stream's (about 560 KiB), whatever the output's
size; the answer file is read only as far as the output needs.

    python3 streaming_judge.py ANSWER_FILE PROGRAM [ARGUMENT...]

prints the verdict and the feedback that checker.py gives, and exits 0 when the output is right,
1 when it is wrong. A judge would call judge() from its own loop where it reads the pipe: after
a difference it goes on reading (the stream only counts those bytes), so that the program is never
killed by a full pipe, and its time and memory are still measured to its end. A judge that would
rather stop the program at once tests stream.differs after each write."""
import subprocess
import sys

import filterspace
from checker import feedback_for

PIECE = 64 << 10


def judge(pipe, answer_path):
    """The Result for the output read from pipe (a binary file object) against the answer file."""
    with filterspace.Stream(answer_path) as stream:
        while True:
            piece = pipe.read1(PIECE) if hasattr(pipe, "read1") else pipe.read(PIECE)
            if not piece:
                break
            stream.write(piece)
    return stream.result, stream.fed


def main(argv):
    if len(argv) < 3:
        print(__doc__.split("\n\n")[1].strip(), file=sys.stderr)
        return 2
    answer_path, program = argv[1], argv[2:]
    with subprocess.Popen(program, stdout=subprocess.PIPE) as child:
        result, drained = judge(child.stdout, answer_path)
    verdict = "accepted" if result.same else "wrong answer"
    print(f"{verdict} ({drained} bytes of output, exit status {child.returncode})")
    if not result.same:
        print(feedback_for(result))
    return 0 if result.same else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
