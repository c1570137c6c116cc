#!/usr/bin/env python3
"""Read an EDICT dictionary through the index that corvane wrote beside it.

    python3 index_reader.py DICT N          print line N (counted from 0)
    python3 index_reader.py DICT -f WORD    print every line whose headword is WORD

The index is DICT.IND: one 4-byte record per LF-terminated line, no header.
Byte 0 is SpacePos (1-based position of the first space; the headword is the
SpacePos - 1 bytes before it), byte 1 is BracketEnd (1-based position of the
byte after the first "]", 0 when there is none), bytes 2-3 are LineLength
(little-endian, LF not counted). Line k starts at the sum of LineLength + 1
over the records before it. Lines are located through the index alone; the
dictionary is never scanned for LF bytes. WORD may be typed in the
terminal's encoding (it is converted to EUC-JP) or given as EUC-JP bytes.

Exit status: 0 found, 1 not found, 2 bad arguments, a missing dictionary
or index, or an index that does not fit the dictionary. Messages go to
standard error and begin with the program's name. When standard output
closes early (a pipe into head), the run ends quietly.
"""
import argparse, mmap, os, struct, sys

PROG = os.path.basename(sys.argv[0])


def say(message):
    print(f"{PROG}: {message}", file=sys.stderr)


def fail(message):
    say(message)
    sys.exit(2)


def records(dic, dictionary):
    """Yield (line number, offset, SpacePos, BracketEnd, LineLength)."""
    index_name = dictionary + ".IND"
    try:
        with open(index_name, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        fail(f"{index_name} not found: run corvane {dictionary} first")
    except OSError as error:
        fail(f"{index_name}: {error.strerror}")
    if len(data) % 4:
        fail(f"{index_name}: size {len(data)} is not a multiple of 4")
    offset = 0
    for k, (space, bracket, length) in enumerate(struct.iter_unpack("<BBH", data)):
        # Each line must end in an LF exactly where its record says: one byte
        # per record tells a stale index (the dictionary changed since).
        if offset + length >= len(dic) or dic[offset + length] != 0x0A:
            fail(f"{index_name}: line {k}: the index does not fit the dictionary "
                 f"(run corvane {dictionary} again)")
        yield k, offset, space, bracket, length
        offset += length + 1


def entry(dic, k, offset, space, bracket, length):
    """Split one located line into headword, reading and glosses."""
    line = dic[offset:offset + length]
    text = lambda b: b.decode("euc_jp", "replace")
    head = text(line[:space - 1])
    # A "]" counts as the end of a reading only when "[" follows the space;
    # otherwise it belongs to the glosses.
    has_reading = bracket > space and line[space:space + 1] == b"["
    reading = text(line[space + 1:bracket - 2]) if has_reading else ""
    rest = line[bracket - 1 if has_reading else space:].rstrip(b"\r").strip()
    glosses = [text(g) for g in rest.split(b"/") if g.strip()]
    return f"line {k} at byte {offset}\n  headword: {head}\n  reading:  {reading}\n" + \
        "".join(f"  gloss:    {g}\n" for g in glosses)


def line_number(text):
    """Argument type of N: decimal digits only, so no sign and no spaces."""
    if not text.isdecimal():
        raise argparse.ArgumentTypeError(f"not a line number: {text!r}")
    return int(text)


def parse(argv):
    # The help shows the summary line before the options and the format and
    # exit statuses after them, all taken from the text above.
    summary, _, details = __doc__.split("\n\n", 2)
    parser = argparse.ArgumentParser(
        prog=PROG, description=summary, epilog=details.rstrip(),
        usage="%(prog)s [-h] DICT N\n       %(prog)s [-h] DICT -f WORD",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dictionary", metavar="DICT", help="the dictionary; its index is DICT.IND")
    wanted = parser.add_mutually_exclusive_group(required=True)
    wanted.add_argument("line", metavar="N", nargs="?", type=line_number,
                        help="print line N (counted from 0)")
    wanted.add_argument("-f", metavar="WORD", dest="word",
                        help="print every line whose headword is WORD")
    return parser.parse_args(argv[1:])


def main(argv):
    args = parse(argv)
    try:
        with open(args.dictionary, "rb") as f:
            dic = (mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
                   if os.path.getsize(args.dictionary) else b"")
    except OSError as error:
        fail(f"{args.dictionary}: {error.strerror}")
    return find(dic, args)


def find(dic, args):
    found = 0
    if args.word is None:
        wanted = args.line
        for rec in records(dic, args.dictionary):
            if rec[0] == wanted:
                sys.stdout.write(entry(dic, *rec))
                return 0
        say(f"no line {wanted} in the index")
        return 1
    word = os.fsencode(args.word)
    try:
        word = word.decode("utf-8").encode("euc_jp")
    except UnicodeError:
        pass  # not UTF-8: taken to be EUC-JP already
    for k, offset, space, bracket, length in records(dic, args.dictionary):
        # Compare lengths first: only lines whose headword is as long as WORD
        # are touched at all.
        if space - 1 == len(word) and dic[offset:offset + space - 1] == word:
            sys.stdout.write(entry(dic, k, offset, space, bracket, length))
            found += 1
    return 0 if found else 1


def run(argv):
    """main, and the end of a run whose standard output has closed early:
    the reader wants no more, so nothing is said and the status is the
    search's so far (0, since only a found line is written)."""
    try:
        status = main(argv)
        sys.stdout.flush()
        return status
    except BrokenPipeError:
        # What is still buffered would fail again at exit: the rest goes to
        # the null device.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0


if __name__ == "__main__":
    sys.stdout.reconfigure(errors="backslashreplace")
    sys.exit(run(sys.argv))
