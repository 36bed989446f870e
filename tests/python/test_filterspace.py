"""The Python module as a judge uses it, and the example DMOJ checker: run with the module
importable (installed, or the build tree's python/ on PYTHONPATH):
    python3 -m unittest discover -s tests/python"""
import errno
import os
import pathlib
import sys
import tempfile
import threading
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
        for pair in ((str(out), str(ans)), (bytes(out), bytes(ans)), (out, ans)):
            with self.subTest(kind=type(pair[0]).__name__):
                self.assertTrue(filterspace.compare_files(*pair))
        wrong = filterspace.compare_files(out, self.path / "wrong")
        self.assertFalse(wrong)
        self.assertEqual((wrong.output.visible_byte, wrong.output.line, wrong.answer.column), (3, 2, 4))

    def test_descriptors_and_file_objects_from_their_offsets(self):
        with open(self.path / "out", "rb") as out, open(self.path / "ans", "rb") as ans:
            self.assertTrue(filterspace.compare_files(out, ans))
        fd = os.open(self.path / "out", os.O_RDONLY)
        ans = os.open(self.path / "ans", os.O_RDONLY)
        os.lseek(fd, 2, os.SEEK_SET)  # from "2": the output is then "23"
        self.assertFalse(filterspace.compare_files(fd, ans))
        os.close(fd)
        os.close(ans)

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
        with self.assertRaises(OSError) as raised:
            filterspace.compare_files(self.path / "out", self.path)
        self.assertEqual(raised.exception.errno, errno.EISDIR)
        self.assertIn("answer", str(raised.exception))
        with self.assertRaises(OSError) as raised:
            filterspace.compare_files("/proc/self/mem", self.path / "ans")
        self.assertEqual(raised.exception.errno, errno.EIO)
        self.assertIn("output", str(raised.exception))


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


if __name__ == "__main__":
    unittest.main()
