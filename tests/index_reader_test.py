#!/usr/bin/env python3
"""Tests of examples/index_reader.py against indexes written by corvane.

    CORVANE=build/corvane python3 tests/index_reader_test.py

READER may name another copy of the reader (an installed one). The checks on
Debian's edict are skipped when /usr/share/edict/edict is absent, except in
CI (CI=true), where its absence is a failure.

Expected lines come from splitting the dictionary at LF bytes, without the
index, so a reader that locates lines wrongly through the index is caught.
"""
import os, shutil, subprocess, sys, tempfile, unittest

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORVANE = os.environ.get("CORVANE", os.path.join(TOP, "build", "corvane"))
READER = os.environ.get("READER", os.path.join(TOP, "examples", "index_reader.py"))
EDICT = "/usr/share/edict/edict"

# The two-line dictionary of the worked example in corvane(1).
WORKED_EXAMPLE = bytes.fromhex(
    "B0A1B0A2205BA4A2A4A4A4A65D202F746F20746573742F0A" "B0A1202F612F0D0A")
WORKED_INDEX = bytes.fromhex("050E1700" "03000700")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def euc(text):
    return text.encode("euc_jp")


def reader(dictionary, *args):
    """Run the reader; give back (exit status, stdout as text, stderr)."""
    run = subprocess.run([sys.executable, READER, dictionary, *args],
                         capture_output=True)
    return run.returncode, run.stdout.decode("utf-8"), run.stderr.decode("utf-8")


def expected_entry(lines, k):
    """The reader's block for line k, built from the LF-split dictionary."""
    line = lines[k].rstrip(b"\r")
    head, _, rest = line.partition(b" ")
    offset = sum(len(x) + 1 for x in lines[:k])
    reading = b""
    if rest.startswith(b"[") and b"]" in rest:
        reading, _, rest = rest[1:].partition(b"]")
    glosses = [g for g in rest.split(b"/") if g.strip()]
    text = lambda b: b.decode("euc_jp", "replace")
    return (f"line {k} at byte {offset}\n  headword: {text(head)}\n"
            f"  reading:  {text(reading)}\n"
            + "".join(f"  gloss:    {text(g.strip())}\n" for g in glosses))


class Indexed:
    """A copy of a dictionary in a scratch directory, indexed by corvane."""

    def __init__(self, scratch, name, data):
        self.path = os.path.join(scratch, name)
        with open(self.path, "wb") as f:
            f.write(data)
        run = subprocess.run([CORVANE, self.path], capture_output=True)
        if run.returncode != 0:
            raise AssertionError(f"corvane failed on {name}: {run.stdout!r}")
        self.lines = data.split(b"\n")[:-1]  # the bytes after the last LF have no record


class ReaderTestBase(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.scratch)

    def check_known_entries(self, dic, table):
        """table rows: (headword, [(reading, a gloss), ...] in file order)."""
        for word, entries in table:
            with self.subTest(word=word):
                status, out, _ = reader(dic.path, "-f", word)
                self.assertEqual(status, 0)
                blocks = out.split("line ")[1:]
                self.assertEqual(len(blocks), len(entries), out)
                for block, (reading, gloss) in zip(blocks, entries):
                    self.assertIn(f"  headword: {word}\n", block)
                    self.assertIn(f"  reading:  {reading}\n", block)
                    self.assertIn(f"  gloss:    {gloss}\n", block)

    def check_lines_against_split(self, dic, numbers):
        for k in numbers:
            with self.subTest(line=k):
                status, out, _ = reader(dic.path, str(k))
                self.assertEqual((status, out), (0, expected_entry(dic.lines, k)))

    def check_find_against_split(self, dic, words):
        for word in words:
            with self.subTest(word=word):
                wanted = [k for k, line in enumerate(dic.lines)
                          if line.startswith(euc(word) + b" ")]
                status, out, _ = reader(dic.path, "-f", word)
                self.assertEqual(status, 0 if wanted else 1)
                self.assertEqual(out, "".join(expected_entry(dic.lines, k) for k in wanted))


class SampleDictionary(ReaderTestBase):
    def setUp(self):
        super().setUp()
        self.dic = Indexed(self.scratch, "sample.edict",
                           read(os.path.join(TOP, "examples", "sample.edict")))

    def test_every_line_is_located_through_the_index(self):
        self.check_lines_against_split(self.dic, range(len(self.dic.lines)))

    def test_known_entries(self):
        self.check_known_entries(self.dic, [
            ("辞書", [("じしょ", "(n) dictionary")]),
            ("引く", [("ひく", "(v5k) to look up (e.g. a word in a dictionary)")]),
            # no reading: the "]" search finds nothing, BracketEnd is 0
            ("ＡＢＣ", [("", "(n) ABC (full-width letters)")]),
            # the headword is the EUC-JP ideographic space itself
            ("\u3000", [("", "(n) ideographic space")]),
        ])

    def test_find_matches_whole_headwords_only(self):
        # 文 is a prefix of 文字, 書 a suffix of 辞書: neither is a headword.
        self.check_find_against_split(self.dic, ["文字", "文", "書", "見本"])

    def test_word_may_be_given_as_euc_jp_bytes(self):
        run = subprocess.run([sys.executable, READER, self.dic.path, "-f", euc("索引")],
                             capture_output=True)
        self.assertEqual((run.returncode, run.stdout.decode()), (0, expected_entry(self.dic.lines, 4)))

    def test_failures(self):
        # Indexes that no longer fit their dictionary: one made before the
        # first line was shortened (the last lines now lie beyond the end),
        # one made before the first two lines were swapped (same size, but
        # no LF where the first record says the line ends).
        lines = self.dic.lines
        stale_data = {"shortened": b"a /b/\n" + read(self.dic.path)[30:],
                      "swapped": b"\n".join([lines[1], lines[0]] + lines[2:]) + b"\n"}
        for name, data in stale_data.items():
            with open(os.path.join(self.scratch, name), "wb") as f:
                f.write(data)
            shutil.copy(self.dic.path + ".IND", os.path.join(self.scratch, name + ".IND"))
        stale = lambda name: os.path.join(self.scratch, name)
        odd = os.path.join(self.scratch, "odd")
        shutil.copy(self.dic.path, odd)
        shutil.copy(self.dic.path, odd.replace("odd", "no-index"))
        with open(odd + ".IND", "wb") as f:
            f.write(read(self.dic.path + ".IND")[:-1])
        no_index = odd.replace("odd", "no-index")
        usage = "usage: index_reader.py [-h] DICT N\n       index_reader.py [-h] DICT -f WORD\n"
        cases = [
            # (dictionary, arguments, exit status, stderr: the whole text
            # when it ends in a newline, else the start of its one line
            # after the usage). Argument errors give the usage and
            # argparse's "prog: error:" line; the others one line of their
            # own, after the program's name.
            (self.dic.path, ["12"], 1, "index_reader.py: no line 12 in the index\n"),
            (self.dic.path, ["-f", "無い"], 1, ""),
            (self.dic.path, [], 2, usage + "index_reader.py: error: one of the arguments N -f"),
            (self.dic.path, ["1", "2"], 2, usage + "index_reader.py: error: unrecognized arguments: 2\n"),
            (self.dic.path, ["one"], 2, usage + "index_reader.py: error: argument N: not a line"),
            (self.dic.path, ["--first", "1"], 2, usage + "index_reader.py: error: "),
            (self.dic.path, ["-f"], 2, usage + "index_reader.py: error: argument -f: expected"),
            (self.dic.path, ["1", "-f", "見本"], 2, usage + "index_reader.py: error: argument -f:"),
            (self.dic.path + ".missing", ["1"], 2,
             f"index_reader.py: {self.dic.path}.missing: No such file or directory\n"),
            (no_index, ["1"], 2,
             f"index_reader.py: {no_index}.IND not found: run corvane {no_index} first\n"),
            (stale("shortened"), ["11"], 2,
             f"index_reader.py: {stale('shortened')}.IND: line 0: the index does not fit"),
            (stale("swapped"), ["0"], 2, f"index_reader.py: {stale('swapped')}.IND: line 0: "),
            (stale("swapped"), ["-f", "見本"], 2, f"index_reader.py: {stale('swapped')}.IND: line 0"),
            (odd, ["0"], 2, f"index_reader.py: {odd}.IND: size 47 is not a multiple of 4\n"),
        ]
        for dic, args, status, message in cases:
            with self.subTest(dic=os.path.basename(dic), args=args):
                got, out, err = reader(dic, *args)
                self.assertEqual((got, out), (status, ""), err)
                if message.endswith("\n") or not message:
                    self.assertEqual(err, message)
                else:
                    self.assertTrue(err.startswith(message), err)
                    self.assertEqual(err.count("\n"), message.count("\n") + 1, err)

    def test_closed_output_ends_quietly(self):
        # The reading end is closed before the reader writes, as when head
        # has taken its lines: the first write fails with EPIPE, whether in
        # the search or at exit.
        for args in (["3"], ["-f", "見本"]):
            with self.subTest(args=args):
                read_end, write_end = os.pipe()
                os.close(read_end)
                run = subprocess.run([sys.executable, READER, self.dic.path, *args],
                                     stdout=write_end, stderr=subprocess.PIPE)
                os.close(write_end)
                self.assertEqual((run.returncode, run.stderr.decode()), (0, ""))


class CommandLine(unittest.TestCase):
    def test_help_goes_to_stdout_with_status_0(self):
        for args in (["--help"], ["-h"], ["any.edict", "--help"]):
            with self.subTest(args=args):
                run = subprocess.run([sys.executable, READER, *args], capture_output=True)
                self.assertEqual((run.returncode, run.stderr), (0, b""))
                out = run.stdout.decode()
                self.assertTrue(out.startswith("usage: index_reader.py"), out)
                for text in ("DICT -f WORD", "DICT.IND", "Exit status: 0 found"):
                    self.assertIn(text, out)


class WorkedExample(ReaderTestBase):
    def test_index_and_reader_agree_with_the_documents(self):
        dic = Indexed(self.scratch, "worked", WORKED_EXAMPLE)
        self.assertEqual(read(dic.path + ".IND"), WORKED_INDEX)
        status, out, _ = reader(dic.path, "1")
        self.assertEqual((status, out),
                         (0, "line 1 at byte 24\n  headword: 亜\n  reading:  \n  gloss:    a\n"))
        spaced = " ".join(f"{b:02X}" for b in WORKED_INDEX)
        with open(os.path.join(TOP, "man/corvane.1"), encoding="utf-8") as f:
            self.assertIn(spaced, f.read())


@unittest.skipUnless(os.path.exists(EDICT) or os.environ.get("CI") == "true",
                     f"{EDICT} is absent (apt-get install edict)")
class DebianEdict(ReaderTestBase):
    def setUp(self):
        super().setUp()
        # In CI a missing file fails here rather than being skipped.
        self.dic = Indexed(self.scratch, "edict", read(EDICT))

    def test_known_entries(self):
        self.check_known_entries(self.dic, [
            ("辞書", [("じしょ", "(n) (1) dictionary")]),
            ("猫", [("ねこ", "(n) (1) cat (esp. the domestic cat, Felis catus)"),
                    ("ねこま", "(n) (arch) cat")]),
            ("日本", [("にっぽん", "(n) Japan"), ("にほん", "(n) Japan")]),
            ("変換", [("へんかん", "(n,vs) (1) change")]),
        ])

    def test_lines_and_finds_against_split(self):
        last = len(self.dic.lines) - 1
        # Line 0 is the file's header line; the others are spread over the file.
        self.check_lines_against_split(self.dic, [0, 1, 2, last // 3, last // 2, last - 1, last])
        self.check_find_against_split(self.dic, ["辞書", "猫", "日本", "見本", "ヽ"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
