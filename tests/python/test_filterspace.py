"""The Python module as a judge uses it, and the example DMOJ checker: run with the module
importable (installed, or the build tree's python/ on PYTHONPATH):
    python3 -m unittest discover -s tests/python"""
import errno
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
import unittest

import filterspace

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "dmoj"))
import checker  # noqa: E402  (the example DMOJ checker)


def visible(data):
    return bytes(b for b in data if 0x21 <= b <= 0x7E)


class Compare(unittest.TestCase):
    def test_rule_on_every_bytes_like_object(self):
        cases = [(b"1 2", b"12", True), (b"Hello\nWorld", b"HelloWorld", True), (b"abc", b"abd", False),
                 (b"ab", b"abc", False), (b"", b" \n\t", True), (b"A", b"a", False),
                 ("caf\u00e9".encode(), b"caf", True), (b"1\x002\x7f", b"12", True)]
        for out, ans, same in cases:
            for wrap in (bytes, bytearray, memoryview):
                with self.subTest(out=out, ans=ans, wrap=wrap.__name__):
                    result = filterspace.compare(wrap(out), wrap(ans))
                    self.assertIs(bool(result), same)
                    self.assertIs(result.same, same)
                    self.assertIs(result.output is None, same)

    def test_a_str_is_never_taken_for_bytes_or_a_name(self):
        with self.assertRaises(TypeError):
            filterspace.compare("1 2", b"12")
        with self.assertRaises(TypeError):
            filterspace.compare(b"1 2", "12")

    def test_places_counted_as_printed(self):
        result = filterspace.compare(b"1 2\n\n3 5\n", b"1 2\n3 4\n")
        self.assertEqual((result.output.visible_byte, result.output.line, result.output.column), (4, 3, 3))
        self.assertEqual((result.answer.line, result.answer.column, result.answer.at_end), (2, 3, False))
        ended = filterspace.compare(b"1 2\n3", b"1 2\n3 4\n")
        self.assertTrue(ended.output.at_end)
        self.assertEqual((ended.output.line, ended.output.column), (2, 2))

    def test_notes_on_request_as_data(self):
        self.assertIsNone(filterspace.compare(b"1 2", b"12").notes)
        notes = filterspace.compare(b"1 2\n\xe2\x80\x99x\x00y\x7f", b"12\nxy", notes=True).notes
        self.assertEqual(notes.token_starts_differ, 2)  # the 2, and the y after the NUL
        first = (notes.first_token_output, notes.first_token_answer)
        self.assertEqual([(p.visible_byte, p.line, p.column) for p in first], [(2, 1, 3), (2, 1, 2)])
        self.assertEqual(notes.output.counts, {"high": 3, "nul": 1, "control": 0, "del": 1})
        self.assertEqual({k: (s.line, s.column) for k, s in notes.output.first.items()},
                         {"high": (2, 1), "nul": (2, 5), "del": (2, 7)})
        self.assertEqual((notes.answer.bytes, notes.answer.visible, notes.answer.complete), (5, 4, True))
        self.assertEqual(sum(notes.answer.counts.values()), 0)
        marked = filterspace.compare(b"\xef\xbb\xbf1", b"1", notes=True).notes.output
        self.assertEqual((marked.byte_order_mark, marked.counts["high"]), (3, 0))
        # A difference: the output up to its place only, the answer (a buffer) to its end.
        wrong = filterspace.compare(b"1\x01 2 x\x00", b"1 2 y\x7f", notes=True)
        self.assertFalse(wrong)
        self.assertEqual((wrong.notes.output.counts["control"], wrong.notes.output.counts["nul"]), (1, 0))
        self.assertEqual((wrong.notes.output.complete, wrong.notes.answer.complete), (False, True))
        self.assertEqual(wrong.notes.answer.counts["del"], 1)
        self.assertEqual(wrong.output.visible_byte, 3)

    def test_large_buffers_agree_with_the_rule(self):
        out = b"".join(b"%d \n" % k for k in range(200000))
        ans = out.replace(b" \n", b"\r\n")
        self.assertTrue(filterspace.compare(out, ans))
        wrong = out[:-10] + b"x" + out[-9:]
        result = filterspace.compare(wrong, ans)
        self.assertFalse(result)
        self.assertEqual(result.output.visible_byte, len(visible(wrong[:-10])) + 1)


class CompareFiles(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = pathlib.Path(self.dir.name)
        (self.path / "out").write_bytes(b"1 2\r\n3\n")
        (self.path / "ans").write_bytes(b"12 3")
        (self.path / "wrong").write_bytes(b"12 4")

    def tearDown(self):
        self.dir.cleanup()

    def test_paths_of_every_kind(self):
        out, ans = self.path / "out", self.path / "ans"
        descriptors = sorted(os.listdir("/proc/self/fd"))
        for pair in ((str(out), str(ans)), (bytes(out), bytes(ans)), (out, ans)):
            with self.subTest(kind=type(pair[0]).__name__):
                self.assertTrue(filterspace.compare_files(*pair))
        wrong = filterspace.compare_files(out, self.path / "wrong")
        self.assertFalse(wrong)
        self.assertEqual((wrong.output.visible_byte, wrong.output.line, wrong.answer.column), (3, 2, 4))
        self.assertEqual(sorted(os.listdir("/proc/self/fd")), descriptors, "the files opened are closed")

    def test_descriptors_and_file_objects_from_their_offsets(self):
        with open(self.path / "out", "rb") as out, open(self.path / "ans", "rb") as ans:
            self.assertTrue(filterspace.compare_files(out, ans))
        fd = os.open(self.path / "out", os.O_RDONLY)
        ans = os.open(self.path / "ans", os.O_RDONLY)
        os.lseek(fd, 2, os.SEEK_SET)  # from "2": the output is then "23", against "123"
        result = filterspace.compare_files(fd, ans)
        self.assertFalse(result)
        # Counted from where the comparison started, both times: from 0 the second pass says same.
        self.assertEqual((result.output.visible_byte, result.output.offset, result.answer.visible_byte), (1, 0, 1))
        os.close(fd)
        os.close(ans)
        # A compressed file's descriptor holds its compressed bytes: it is read through readinto().
        import bz2, gzip, lzma
        for module in (gzip, bz2, lzma):
            with self.subTest(compressed=module.__name__):
                packed = self.path / module.__name__
                with module.open(packed, "wb") as f:
                    f.write(b"12 3")
                with module.open(packed, "rb") as ans, module.open(packed, "rb") as out:
                    self.assertTrue(filterspace.compare_files(self.path / "out", ans))
                    wrong = filterspace.compare_files(out, self.path / "wrong")
                    self.assertEqual((wrong.same, wrong.output.visible_byte, wrong.answer.column), (False, 3, 4))
                with module.open(packed, "rb") as ans, filterspace.Stream(ans) as stream:
                    stream.write(b"1 2\n3")
                self.assertTrue(stream.result)

    def test_file_objects_from_the_position_they_report(self):
        tail = b"7 " * 10000  # past a buffer: the descriptors stand inside the files
        (self.path / "a").write_bytes(b"3\n1 2 3\n" + tail)
        (self.path / "b").write_bytes(b"3\n4 5 6\n" + tail)
        with open(self.path / "a", "rb") as out, open(self.path / "b", "rb") as ans:
            out.readline(), ans.readline()  # the buffers hold more; the descriptors are past them
            result = filterspace.compare_files(out, ans)
            self.assertFalse(result)
            self.assertEqual((result.output.visible_byte, result.output.offset), (1, 0))
            # Left where they stood, descriptors and buffers.
            self.assertEqual((out.tell(), ans.tell()), (2, 2))
            self.assertEqual((out.read(), ans.read()), (b"1 2 3\n" + tail, b"4 5 6\n" + tail))
        (self.path / "c").write_bytes(b"3\n1 2 3\n")
        with open(self.path / "c", "rb", buffering=0) as out, open(self.path / "out", "rb") as ans:
            out.read(2)  # unbuffered: "1 2 3" against "1 2 3"
            ans.read(2)  # "2\r\n3\n", whose "2" meets the output's "1"
            self.assertFalse(filterspace.compare_files(out, ans))
            self.assertEqual((out.tell(), ans.tell()), (2, 2))
            ans.seek(0)
            self.assertTrue(filterspace.compare_files(out, ans))

    def test_objects_that_cannot_say_where_they_stand_are_refused(self):
        with open(self.path / "out", "r") as text:
            with self.assertRaisesRegex(TypeError, r"\.buffer"):
                filterspace.compare_files(text, self.path / "ans")
        read_end, write_end = os.pipe()
        os.write(write_end, b"12 3")
        os.close(write_end)
        with os.fdopen(read_end, "rb") as piped:
            piped.read(1)  # the rest is in its buffer, not in the pipe
            with self.assertRaisesRegex(ValueError, "fileno"):
                filterspace.compare_files(piped, self.path / "ans")
        for wrong, error in ((True, TypeError), (2 ** 40, OverflowError), (-2 ** 70, OverflowError)):
            with self.subTest(descriptor=wrong), self.assertRaises(error):
                filterspace.compare_files(wrong, self.path / "ans")

    def test_a_pipe_beside_a_file_compared_once_with_its_places(self):
        read_end, write_end = os.pipe()
        os.write(write_end, b"1 2 x")
        os.close(write_end)
        (self.path / "y").write_bytes(b"12y")
        result = filterspace.compare_files(read_end, self.path / "y")
        os.close(read_end)
        self.assertEqual(result.output.visible_byte, 3)

    def test_notes_read_on_a_regular_answer_never_a_pipe(self):
        (self.path / "nul_after").write_bytes(b"12 3 4\x00")
        for answer_is_a_pipe in (False, True):
            with self.subTest(answer_is_a_pipe=answer_is_a_pipe):
                out_read, out_write = os.pipe()
                os.write(out_write, b"1 2 x")
                os.close(out_write)
                answer = self.path / "nul_after"
                if answer_is_a_pipe:
                    answer, ans_write = os.pipe()
                    os.write(ans_write, b"12 3 4\x00")  # left open: never waited for past the place
                result = filterspace.compare_files(out_read, answer, notes=True)
                os.close(out_read)
                if answer_is_a_pipe:
                    os.close(answer)
                    os.close(ans_write)
                self.assertEqual(result.output.visible_byte, 3)
                self.assertEqual(result.notes.answer.complete, not answer_is_a_pipe)
                self.assertEqual(result.notes.answer.counts["nul"], 0 if answer_is_a_pipe else 1)
                self.assertEqual(result.notes.token_starts_differ, 1)

    def test_a_non_blocking_pipe_is_waited_for(self):
        read_end, write_end = os.pipe()
        os.set_blocking(read_end, False)
        timer = threading.Timer(0.2, lambda: (os.write(write_end, b"12\n3"), os.close(write_end)))
        timer.start()
        self.assertTrue(filterspace.compare_files(read_end, self.path / "ans"))
        timer.join()
        os.close(read_end)

    def test_a_pipe_streamed(self):
        read_end, write_end = os.pipe()

        def write():
            for piece in (b"1 ", b"2\r\n", b"3\n"):
                os.write(write_end, piece)
            os.close(write_end)

        writer = threading.Thread(target=write)
        writer.start()
        self.assertTrue(filterspace.compare_files(read_end, self.path / "ans"))
        writer.join()
        os.close(read_end)

    def test_unreadable_inputs_name_their_side(self):
        with self.assertRaises(OSError) as raised:
            filterspace.compare_files(self.path / "missing", self.path / "ans")
        self.assertEqual(raised.exception.errno, errno.ENOENT)
        self.assertIn("output", str(raised.exception))
        self.assertEqual(raised.exception.filename, self.path / "missing")
        with self.assertRaises(OSError) as raised:
            filterspace.compare_files(self.path / "out", self.path)
        self.assertEqual(raised.exception.errno, errno.EISDIR)
        self.assertIn("answer", str(raised.exception))
        with self.assertRaises(OSError) as raised:
            filterspace.compare_files("/proc/self/mem", self.path / "ans")
        self.assertEqual(raised.exception.errno, errno.EIO)
        self.assertIn("output", str(raised.exception))


def expect_other_threads_run(test, action, what):
    """Runs action while another thread ticks: some tick must fall in its middle third. Its result."""
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0)

    ticker = threading.Thread(target=tick)
    ticker.start()
    started = time.monotonic()
    result = action()
    ended = time.monotonic()
    stop.set()
    ticker.join()
    third = (ended - started) / 3
    test.assertTrue(any(started + third < t < ended - third for t in ticks),
                    "no other thread ran during %.3f s of %s" % (ended - started, what))
    return result


def place_fields(place):
    return None if place is None else (place.visible_byte, place.offset, place.line, place.column, place.at_end)


def result_fields(result):
    return result.same, place_fields(result.output), place_fields(result.answer)


class Stream(unittest.TestCase):
    """filterspace.Stream: the output written as it arrives gives what compare() gives."""

    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.path = pathlib.Path(self.directory.name)

    def tearDown(self):
        self.directory.cleanup()

    def streamed(self, answer, output, cut):
        with filterspace.Stream(answer) as stream:
            for at in range(0, len(output), cut):
                self.assertEqual(stream.write(output[at:at + cut]), len(output[at:at + cut]))
        self.assertEqual(stream.fed, len(output))
        return stream.result

    def test_chunks_of_every_bytes_like_kind_and_answers_of_every_kind(self):
        import array
        import io
        import zipfile
        pairs = [(b"1 2 3\n", b"1 2 3"), (b"1 2\r\n4", b"12 3"), (b"12", b"1 2 3"), (b"x" * 70000 + b" 9", b"x" * 70000),
                 (b"", b" \n"), (b"\x80 5", b"5")]
        chunk_kinds = (bytes, bytearray, memoryview, lambda b: array.array("B", b))
        for number, (output, answer) in enumerate(pairs):
            want = result_fields(filterspace.compare(output, answer))
            path = self.path / f"ans{number}"
            path.write_bytes(b"skipped" + answer)
            archive = io.BytesIO()
            with zipfile.ZipFile(archive, "w") as zipped:
                zipped.writestr("ans", answer)
            with open(path, "rb") as from_position, zipfile.ZipFile(archive) as zipped:
                from_position.seek(7)
                descriptor = os.open(path, os.O_RDONLY)
                os.lseek(descriptor, 7, os.SEEK_SET)
                answers = {"bytes": answer, "bytearray": bytearray(answer), "file object": from_position,
                           "descriptor": descriptor, "BytesIO": io.BytesIO(answer), "zip member": zipped.open("ans")}
                if number == 0:
                    plain = self.path / "plain"
                    plain.write_bytes(answer)
                    answers.update({"str path": str(plain), "PathLike": plain})
                for name, held in answers.items():
                    for kind in chunk_kinds:
                        for cut in (1, 3, 4096):
                            with self.subTest(pair=number, answer=name, chunk=kind, cut=cut):
                                if name == "file object":
                                    from_position.seek(7)
                                if name == "descriptor":
                                    os.lseek(descriptor, 7, os.SEEK_SET)
                                if name in ("BytesIO", "zip member"):
                                    held = io.BytesIO(answer) if name == "BytesIO" else zipped.open("ans")
                                result = self.streamed(held, kind(output), cut)
                                self.assertEqual(result_fields(result), want)
                self.assertEqual(from_position.tell(), 7, "a file object's position is put back")
                os.close(descriptor)

    def test_a_str_is_refused_and_a_finished_stream_takes_nothing(self):
        stream = filterspace.Stream(b"1")
        with self.assertRaises(TypeError):
            stream.write("1")
        first = stream.finish()
        self.assertFalse(first.same)
        self.assertEqual(first.output.visible_byte, 1)
        unplaced = filterspace.Stream(b"1", places=False)
        unplaced.write(b"2")
        self.assertEqual(result_fields(unplaced.finish()), (False, None, None))
        self.assertEqual(result_fields(stream.finish()), result_fields(first), "finished once, told again")
        with self.assertRaises(ValueError):
            stream.write(b"1")

    def test_a_child_process_judged_as_its_output_arrives(self):
        import shutil
        (self.path / "ans").write_bytes(b"".join(b"%d\n" % i for i in range(200000)))
        program = "import sys\nfor i in range(200000): sys.stdout.write('%d ' % (i if i != N else -1))"
        for wrong_at, expected_line in ((None, None), (150000, 150001)):
            with self.subTest(wrong_at=wrong_at):
                child = subprocess.Popen([sys.executable, "-c", program.replace("N", str(wrong_at))],
                                         stdout=subprocess.PIPE)
                with filterspace.Stream(self.path / "ans") as stream:
                    shutil.copyfileobj(child.stdout, stream)
                child.wait()
                child.stdout.close()
                self.assertEqual(stream.result.same, wrong_at is None)
                if wrong_at is not None:
                    self.assertEqual(stream.result.answer.line, expected_line)
                    self.assertEqual(stream.result.output.line, 1)

    def test_an_unreadable_answer_raises_when_it_is_needed(self):
        class Failing:
            def __init__(self):
                self.calls = 0

            def readinto(self, buffer):
                self.calls += 1
                if self.calls > 1:
                    raise RuntimeError("the archive is damaged")
                buffer[:2] = b"1 "
                return 2

        stream = filterspace.Stream(Failing())
        stream.write(b"1")
        with self.assertRaisesRegex(RuntimeError, "damaged"):
            stream.write(b" 2")
        with self.assertRaisesRegex(RuntimeError, "damaged"):
            stream.finish()
        with self.assertRaises(OSError) as raised:
            filterspace.Stream(self.path / "missing")
        self.assertEqual(raised.exception.errno, errno.ENOENT)
        directory = filterspace.Stream(os.open(self.path, os.O_RDONLY))
        with self.assertRaises(OSError) as raised:
            directory.write(b"1")
        self.assertEqual(raised.exception.errno, errno.EISDIR)

        class NoDataYet:
            def readinto(self, buffer):
                return None  # a non-blocking object's "nothing yet", never the answer's end

        with self.assertRaisesRegex(ValueError, "None"):
            filterspace.Stream(NoDataYet()).write(b"1")

    def test_a_difference_is_kept_while_100_mb_are_drained(self):
        class Counting:
            def __init__(self, data):
                self.data, self.at, self.calls = data, 0, 0

            def readinto(self, buffer):
                self.calls += 1
                piece = self.data[self.at:self.at + len(buffer)]
                buffer[:len(piece)] = piece
                self.at += len(piece)
                return len(piece)

        answer = Counting(b"1 2 3 " * 100000)
        stream = filterspace.Stream(answer)
        stream.write(b"1 2 4")
        self.assertTrue(stream.differs)
        calls = answer.calls
        flood = bytes(range(256)) * 4096  # 1 MiB, visible bytes among them
        for _ in range(100):
            stream.write(flood)
        self.assertTrue(stream.differs)
        self.assertEqual(answer.calls, calls, "the answer is read no further")
        self.assertEqual(stream.fed, 5 + 100 * len(flood))
        result = stream.finish()
        self.assertEqual((result.output.visible_byte, result.output.column), (3, 5))

    def test_the_context_manager_finishes_or_closes(self):
        (self.path / "ans").write_bytes(b"1 2")
        with filterspace.Stream(self.path / "ans") as stream:
            stream.write(b"1 2")
        self.assertTrue(stream.result.same)
        with self.assertRaises(KeyError):
            with filterspace.Stream(self.path / "ans") as stream:
                stream.write(b"1")
                raise KeyError("the judge gave up")
        self.assertIsNone(stream.result)
        with self.assertRaises(ValueError):
            stream.write(b"2")
        self.assertEqual(stream.fed, 1)

    def test_one_thread_at_a_time(self):
        entered, release = threading.Event(), threading.Event()

        class Waiting:
            given = False

            def readinto(self, buffer):
                entered.set()
                release.wait(10)
                if self.given:
                    return 0
                self.given = True
                buffer[:1] = b"1"
                return 1

        stream = filterspace.Stream(Waiting())
        writer = threading.Thread(target=stream.write, args=(b"1",))
        writer.start()
        self.assertTrue(entered.wait(10))
        for call in (lambda: stream.write(b"2"), stream.close, stream.finish):
            with self.assertRaisesRegex(RuntimeError, "in use by another thread"):
                call()
        release.set()
        writer.join()
        self.assertTrue(stream.finish().same)

    def test_large_chunks_let_other_threads_run(self):
        chunk = bytes(256 << 20)
        stream = filterspace.Stream(chunk)
        expect_other_threads_run(self, lambda: stream.write(chunk), "a chunk")
        self.assertTrue(stream.finish().same)


class Threads(unittest.TestCase):
    def test_threads_compare_at_once(self):
        failures = []

        def work(seed):
            out = b"".join(b"%d\n" % (k * seed) for k in range(50000))
            ans = out.replace(b"\n", b" ")
            for round in range(10):
                wrong = round % 2 == 1
                other = ans[:-3] + b"x" + ans[-2:] if wrong else ans
                if bool(filterspace.compare(out, other)) == wrong:
                    failures.append((seed, round))

        threads = [threading.Thread(target=work, args=(seed,)) for seed in range(1, 7)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])


def run_alone(test, script, timeout, hang):
    """Runs script in a Python of its own with the module importable: a crash there fails the test
    instead of the whole run, and a hang fails it with the reason given."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    try:
        return subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                              timeout=timeout)
    except subprocess.TimeoutExpired:
        test.fail(hang)


def beside_a_fifo(answer, body):
    """A script that makes, in a directory of its own, a FIFO named by fifo and a file named by ans
    that holds answer, then runs body."""
    return ("import os, signal, subprocess, tempfile, threading, time, filterspace\n"
            "directory = tempfile.mkdtemp()\n"
            "fifo, ans = os.path.join(directory, 'fifo'), os.path.join(directory, 'ans')\n"
            "os.mkfifo(fifo)\n"
            "open(ans, 'wb').write(%r)\n" % answer) + textwrap.dedent(body)


class Interrupts(unittest.TestCase):
    def test_ctrl_c_ends_a_comparison_of_an_endless_pipe(self):
        # Blank lines for ever from a FIFO the module opens: nothing differs, nothing ends, and
        # Ctrl-C must end it, closing the FIFO.
        script = beside_a_fifo(b"1", """
            writer = subprocess.Popen(["sh", "-c", 'exec yes "" > "$0"', fifo])
            before = sorted(os.listdir("/proc/self/fd"))
            timer = threading.Timer(0.5, signal.pthread_kill, (threading.main_thread().ident, signal.SIGINT))
            timer.start()
            started = time.monotonic()
            try:
                filterspace.compare_files(fifo, ans)
                print("not interrupted")
            except KeyboardInterrupt:
                print("interrupted after %.1f s" % (time.monotonic() - started))
            timer.join()
            writer.kill()
            print("descriptors", "kept" if sorted(os.listdir("/proc/self/fd")) == before else "leaked")
            """)
        finished = run_alone(self, script, 20, "Ctrl-C did not end the comparison")
        self.assertRegex(finished.stdout, r"^interrupted after [0-4]\.[0-9] s\ndescriptors kept\n$", finished.stderr)

    def test_an_open_that_waits_stops_no_other_thread(self):
        # A FIFO without a writer: its open waits, and must let the main thread run meanwhile.
        script = beside_a_fifo(b"12", """
            results = []
            comparing = threading.Thread(target=lambda: results.append(filterspace.compare_files(fifo, ans)))
            comparing.start()
            time.sleep(0.3)  # returns only if the waiting open left the GIL
            with open(fifo, "wb") as writer:
                writer.write(b"1 2")
            comparing.join()
            print(bool(results[0]))
            """)
        finished = run_alone(self, script, 20, "a thread waiting to open a FIFO held every other thread")
        self.assertEqual((finished.returncode, finished.stdout.strip()), (0, "True"), finished.stderr)


    def test_a_stream_waiting_on_its_answer_pipe_lets_python_run(self):
        # The answer pipe is fed by another Python thread, 50 ms late, while the output is written
        # a byte at a time; then Ctrl-C during a write that waits on a silent pipe.
        script = """
            import os, signal, threading, time, filterspace
            read_end, write_end = os.pipe()
            threading.Timer(0.05, lambda: (os.write(write_end, b"1 2 3"), os.close(write_end))).start()
            with filterspace.Stream(read_end) as stream:
                for byte in b"123":
                    stream.write(bytes([byte]))
            print(stream.result.same)
            silent, keep = os.pipe()
            threading.Timer(0.3, signal.pthread_kill, (threading.main_thread().ident, signal.SIGINT)).start()
            try:
                filterspace.Stream(silent).write(b"1")
                print("not interrupted")
            except KeyboardInterrupt:
                print("interrupted")
            """
        finished = run_alone(self, textwrap.dedent(script), 20, "a write that waits on its answer held Python")
        self.assertEqual(finished.stdout, "True\ninterrupted\n", finished.stderr)


class Races(unittest.TestCase):
    def test_compare_lets_other_threads_run(self):
        size = 300 << 20
        out = bytes(size)
        ans = bytearray(size)
        self.assertTrue(expect_other_threads_run(self, lambda: filterspace.compare(out, ans), "comparison"))
        ans.extend(b"x")  # the buffer was released: resizing it raises no BufferError
        self.assertFalse(filterspace.compare(out, ans))

    def test_buffers_rewritten_while_compared_are_never_read_outside(self):
        # Buffers that end at an inaccessible page, and buffers that start right after one, each
        # rewritten by another thread during the comparisons: any verdict, but no crash.
        script = """if 1:
            import ctypes, mmap, threading, filterspace
            libc = ctypes.CDLL(None, use_errno=True)
            libc.mprotect.argtypes = (ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int)
            page = mmap.PAGESIZE
            size = 64 * page
            dense = (b"a " * size)[:size]
            lines = b"\\n" + b" " * (size - 1)
            cases = ((dense, True, size - 20000, b"a" * (size // 2 - 1) + b"b"),  # compacted, ends at a guard
                     (dense, True, size - 20000, b"a" * (size // 2 - 100)),
                     (lines, False, 0, b"x"))  # the only newline, walked back to, starts after a guard
            for racing, at_end, blanked, other in cases:
                memory = mmap.mmap(-1, 66 * page)
                address = ctypes.addressof(ctypes.c_char.from_buffer(memory))
                for guard in (address, address + 65 * page):
                    assert libc.mprotect(guard, page, 0) == 0
                start = 65 * page - size if at_end else page
                view = memoryview(memory)[start:start + size]
                view[:] = racing
                stop = threading.Event()

                def rewrite():
                    blanks, original = b" " * (size - blanked), racing[blanked:]
                    while not stop.is_set():
                        view[blanked:] = blanks
                        view[blanked:] = original

                writer = threading.Thread(target=rewrite)
                writer.start()
                for k in range(1500):
                    first, second = (view, other) if k % 2 == 0 else (other, view)
                    filterspace.compare(first, second)
                stop.set()
                writer.join()
                view.release()
            print("survived")
            """
        finished = run_alone(self, script, 240, "the race hung")
        self.assertEqual((finished.returncode, finished.stdout.strip()), (0, "survived"), finished.stderr[-2000:])


class DmojChecker(unittest.TestCase):
    def test_verdicts_points_and_feedback_without_the_answer(self):
        right = checker.check(b"1 2\r\n3\n", b"12 3", point_value=7)
        self.assertEqual((right.passed, right.points, right.feedback), (True, 7, ""))
        wrong = checker.check(b"1 2\n\n3 5\n", b"1 2\n3 4\n", point_value=7)
        self.assertEqual((wrong.passed, wrong.points), (False, 0))
        self.assertEqual(wrong.feedback, "first difference at visible character 4: line 3, column 3 of your output")
        short = checker.check(b"1 2\n3", b"1 2\n3 4\n")
        self.assertEqual(short.feedback, "your output ended after 3 visible characters (line 2); more was expected")
        self.assertNotIn("4", short.feedback.replace("line 2", ""))
        one = checker.check(b"1", b"1 2")
        self.assertEqual(one.feedback, "your output ended after 1 visible character (line 1); more was expected")
        self.assertEqual(checker.check(b"1 2", b"\n1").feedback,
                         "your output goes on past the expected 1 visible character, at line 1, column 3")


    def test_the_streaming_judge_drains_a_wrong_program_to_its_end(self):
        judge = pathlib.Path(checker.__file__).with_name("streaming_judge.py")
        with tempfile.TemporaryDirectory() as directory:
            answer = pathlib.Path(directory) / "ans"
            answer.write_bytes(b"1 2 3\n")
            for printed, status, first_line in (
                    ("print('1 2'); print(3)", 0, "accepted (6 bytes of output, exit status 0)"),
                    # 20 MB after a wrong first token: read to the end, the program never killed.
                    ("import sys; sys.stdout.write('1 5 ' + 'x' * (20 << 20))", 1,
                     "wrong answer (%d bytes of output, exit status 0)" % (4 + (20 << 20)))):
                with self.subTest(status=status):
                    finished = subprocess.run([sys.executable, str(judge), str(answer), sys.executable, "-c", printed],
                                              capture_output=True, text=True, timeout=60,
                                              env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
                    self.assertEqual(finished.returncode, status, finished.stderr)
                    self.assertEqual(finished.stdout.splitlines()[0], first_line)
                    if status:
                        self.assertEqual(finished.stdout.splitlines()[1],
                                         "first difference at visible character 2: line 1, column 3 of your output")


if __name__ == "__main__":
    unittest.main()
