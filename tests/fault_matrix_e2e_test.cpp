// Fault matrix: both programs run against hostile surroundings — an unusable
// standard output, FIFOs, directories, missing or non-directory path
// components, symbolic link loops, names that lead back to the input, names
// that hold a quote byte, creates that fail after their open succeeded,
// another run holding the same files, and fault signals sent from outside.
// Every case checks the exact console bytes, the report on standard error
// where standard output cannot take it, the exit status, and the whole
// scratch directory afterwards: every file that was there is unchanged byte
// for byte, and only the expected files appeared. Every run is killed after
// ten seconds, so a program that hangs fails the test instead of CI.
//
// Cells of the matrix checked in tessmark_e2e_test.cpp and
// corvane_e2e_test.cpp are not repeated here: tessmark's output /dev/full;
// corvane's dictionary missing or a directory, its index a directory, its
// index a hard or symbolic link to the dictionary. The permission cases are
// absent: the tests run as root, which no mode bars.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

/// Seconds after which a run is killed and the case fails.
constexpr int TimeLimit = 10;

/// `TessmarkInShell` is bash running the script of the row's first argument,
/// with tessmark as "$0": for surroundings only a shell sets up.
enum class Tool { Tessmark, Corvane, TessmarkInShell };

std::string PathOf(Tool tool) {
  if (tool == Tool::TessmarkInShell) return "/bin/bash";
  return tool == Tool::Tessmark ? TESSMARK_PATH : CORVANE_PATH;
}
std::string ModuleOf(Tool tool) { return tool == Tool::Corvane ? "corvane" : "tessmark"; }

// --- The files every scratch directory starts with ------------------------

// tessmark's input: hiragana, a kanji, CR LF.
const std::string Text = "\xA4\xA2\xA4\xA4 \xB0\xA1\r\n";
const std::string Converted = "\x82\xA0\x82\xA2 \x88\x9F\r\n";
// corvane's dictionary "x": one line, first space at 2, no ']', 3 bytes.
const std::string Dictionary = "a b\n";
const std::string DictionaryIndex("\x02\x00\x03\x00", 4);
// Left where a run may create its output, to prove it was not touched.
const std::string StaleBytes = "stale output\r\n";

// --- Console texts ----------------------------------------------------------

using tessmark_text::Refuses;
const std::string& TessmarkSuccess = tessmark_text::Success;
const std::string& CorvaneBanner = corvane_text::Banner;

std::string CorvaneRefuses(const std::string& name) {
  return CorvaneBanner + corvane_text::OpenError(name);
}

// The dictionary was loaded; then the index name was refused.
std::string CorvaneRefusesIndex(const std::string& dictionary) {
  return CorvaneBanner + corvane_text::Loading(dictionary) +
         corvane_text::OpenError(dictionary + ".IND");
}

// --- The scratch directory as a whole ---------------------------------------

/// Each entry below the directory, by relative path, described by its kind
/// and content: regular files by their bytes, links by their target. FIFOs
/// are never opened, which could block.
using Tree = std::map<std::string, std::string>;

std::string FileEntry(const std::string& bytes) { return "file [" + Hex(bytes) + "]"; }

Tree Snapshot(const std::string& directory) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    const fs::path& path = entry.path();
    std::string name = path.lexically_relative(directory).string();
    fs::file_status status = fs::symlink_status(path);
    switch (status.type()) {
      case fs::file_type::regular: tree[name] = FileEntry(ReadFileBytes(path.string())); break;
      case fs::file_type::directory: tree[name] = "directory"; break;
      case fs::file_type::symlink: tree[name] = "link to " + fs::read_symlink(path).string(); break;
      case fs::file_type::fifo: tree[name] = "fifo"; break;
      default: tree[name] = "other"; break;
    }
  }
  return tree;
}

void MakeFifo(const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path; }

void MakeLink(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

/// A FIFO held open for reading and writing by the test: it has a reader and
/// a writer without anyone waiting, and what is written stays in it until
/// read.
class HeldFifo {
 public:
  explicit HeldFifo(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
  ~HeldFifo() { Release(); }
  HeldFifo(const HeldFifo&) = delete;
  HeldFifo& operator=(const HeldFifo&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool Write(const std::string& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  /// Bytes written and not yet read by anyone.
  int Pending() const {
    int count = 0;
    return ioctl(fd_, FIONREAD, &count) == 0 ? count : -1;
  }
  /// Takes whatever is waiting, without waiting for more.
  std::string ReadPending() {
    std::string bytes;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd_, chunk, sizeof chunk)) > 0)
      bytes.append(chunk, static_cast<std::size_t>(got));
    return bytes;
  }
  /// Closes the test's end: once the program holds the only other end, its
  /// reads meet the end of the input.
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

/// Waits until `done()` holds, while `tool` runs and the time limit lasts.
/// Gives whether it came to hold.
template <typename Condition>
bool WaitWhileRunning(ToolProcess& tool, Condition done) {
  const Deadline deadline(TimeLimit);
  while (!done()) {
    if (tool.HasEnded() || deadline.MillisecondsLeft() == 0) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

/// Waits until the program has taken every byte waiting in `fifo`. Gives
/// whether the bytes were taken.
bool WaitUntilTaken(HeldFifo& fifo, ToolProcess& tool) {
  return WaitWhileRunning(tool, [&] { return fifo.Pending() <= 0; }) && fifo.Pending() == 0;
}

// --- The matrix ---------------------------------------------------------------

const std::string LongName(150, 'n');

struct MatrixCase {
  const char* Label;
  Tool Program;
  void (*Setup)(const std::string& directory);  // adds to "in.euc" and "x"
  Names Arguments;
  StdoutTarget Target;
  std::string Stdout;  // exact; empty where standard output cannot be read
  int ReportCode;      // 0: standard error stays empty; else the code reported there
  int Status;
  std::map<std::string, std::string> Created;  // files the run creates or replaces
  std::string Stale;  // if set, run again with an old file of this name present
};

void PrintTo(const MatrixCase& row, std::ostream* out) { *out << row.Label; }

void NoSetup(const std::string&) {}
void MakeFifoF(const std::string& d) { MakeFifo(d + "/f"); }
void MakeDirectories(const std::string& d) {
  fs::create_directory(d + "/adir");
  fs::create_directory(d + "/outdir");
}
// Other names for "in.euc": a hard link and a symbolic link.
void MakeLinksToInput(const std::string& d) {
  ASSERT_EQ(link((d + "/in.euc").c_str(), (d + "/hard.sjs").c_str()), 0);
  MakeLink("in.euc", d + "/soft.sjs");
}
// "ab": what a name with a quote byte would become without it.
void MakeQuoteless(const std::string& d) { WriteFileBytes(d + "/ab", Dictionary); }
// a -> b -> a: no name resolves.
void MakeLinkLoop(const std::string& d) {
  MakeLink("b", d + "/a");
  MakeLink("a", d + "/b");
}

// clang-format off
const MatrixCase MatrixCases[] = {
    // --- Standard output unusable: the banner fails, the report goes to
    // standard error, and the run stops before any file is opened.

    // Closed: the stream cannot be opened, code 103. The existing output,
    // named or derived, must not be emptied.
    {"TessmarkStdoutClosed", Tool::Tessmark, NoSetup, {"in.euc", "out.sjs"}, StdoutTarget::Closed,
     "", 103, 1, {}, "out.sjs"},
    {"TessmarkStdoutClosedOneArgument", Tool::Tessmark, NoSetup, {"in.euc"},
     StdoutTarget::Closed, "", 103, 1, {}, "in.SJS"},
    // /dev/full: the banner's write fails with "no space", code 112.
    {"TessmarkStdoutFull", Tool::Tessmark, NoSetup, {"in.euc", "out.sjs"}, StdoutTarget::DevFull,
     "", 112, 1, {}, "out.sjs"},
    {"TessmarkStdoutFullOneArgument", Tool::Tessmark, NoSetup, {"in.euc"},
     StdoutTarget::DevFull, "", 112, 1, {}, "in.SJS"},
    // A pipe nobody reads: SIGPIPE does not kill the program, the write
    // fails with code 109. The banner is over 128 bytes, so the first
    // buffer goes out, and fails, before the files are opened.
    {"TessmarkStdoutPipeWithoutReader", Tool::Tessmark, NoSetup, {"in.euc"},
     StdoutTarget::BrokenPipe, "", 109, 1, {}, "in.SJS"},
    // Closed: no index is created, an old one is left alone.
    {"CorvaneStdoutClosed", Tool::Corvane, NoSetup, {"x"}, StdoutTarget::Closed, "", 103, 1, {},
     "x.IND"},
    // /dev/full is a character device: each group is pushed, the banner fails.
    {"CorvaneStdoutFull", Tool::Corvane, NoSetup, {"x"}, StdoutTarget::DevFull, "", 112, 1, {},
     "x.IND"},
    // A pipe nobody reads: the loading line of a 150-byte name fills the
    // 128-byte buffer, whose write fails before the index is created.
    {"CorvaneStdoutPipeWithoutReader", Tool::Corvane,
     [](const std::string& d) { WriteFileBytes(d + "/" + LongName, Dictionary); }, {LongName},
     StdoutTarget::BrokenPipe, "", 109, 1, {}, LongName + ".IND"},
    // A pipe nobody reads, but all the console text fits in the buffer: it
    // waits for the program's end, where the write fails too and is
    // reported on standard error with status 1. The index is complete.
    {"CorvaneStdoutPipeWithoutReaderShortText", Tool::Corvane, NoSetup, {"x"},
     StdoutTarget::BrokenPipe, "", 109, 1, {{"x.IND", DictionaryIndex}}, "x.IND"},

    // --- FIFOs. An input FIFO waits for its writer (see runtime_e2e_test.cpp);
    // an output FIFO never waits for its reader.

    // Output with no reader: refused like any output that cannot be made.
    {"TessmarkOutputFifoWithoutReader", Tool::Tessmark, MakeFifoF, {"in.euc", "f"},
     StdoutTarget::File, Refuses("f"), 0, 2, {}, ""},
    // The index name is a FIFO: refused after loading, the FIFO stays.
    {"CorvaneIndexFifo", Tool::Corvane, [](const std::string& d) { MakeFifo(d + "/x.IND"); },
     {"x"}, StdoutTarget::File, CorvaneRefusesIndex("x"), 0, 2, {}, ""},

    // --- Directories where a file is wanted.

    // The input is a directory.
    {"TessmarkInputDirectory", Tool::Tessmark, MakeDirectories, {"adir"}, StdoutTarget::File,
     Refuses("adir"), 0, 2, {}, ""},
    // The output named by the second argument is a directory.
    {"TessmarkOutputDirectory", Tool::Tessmark, MakeDirectories, {"in.euc", "outdir"},
     StdoutTarget::File, Refuses("outdir"), 0, 2, {}, ""},
    // The same with a trailing slash.
    {"TessmarkOutputDirectorySlash", Tool::Tessmark, MakeDirectories, {"in.euc", "outdir/"},
     StdoutTarget::File, Refuses("outdir/"), 0, 2, {}, ""},
    // Input "adir/": the derived output "adir/.SJS" would land inside it.
    {"TessmarkInputDirectorySlash", Tool::Tessmark, MakeDirectories, {"adir/"},
     StdoutTarget::File, Refuses("adir/"), 0, 2, {}, ""},
    // Dictionary "adir/": the index "adir/.IND" would land inside it.
    {"CorvaneDictionaryDirectorySlash", Tool::Corvane, MakeDirectories, {"adir/"},
     StdoutTarget::File, CorvaneRefuses("adir/"), 0, 2, {}, ""},

    // --- Inputs that do not exist. The message names the input whole.

    {"TessmarkInputMissing", Tool::Tessmark, NoSetup, {"missing.euc"}, StdoutTarget::File,
     Refuses("missing.euc"), 0, 2, {}, ""},
    {"TessmarkInputMissingWithOutputName", Tool::Tessmark, NoSetup, {"missing.euc", "out.sjs"},
     StdoutTarget::File, Refuses("missing.euc"), 0, 2, {}, ""},
    // A component of 300 bytes, which the system refuses, is shown uncut.
    {"TessmarkInputNameTooLong", Tool::Tessmark, NoSetup, {std::string(300, 'n')},
     StdoutTarget::File, Refuses(std::string(300, 'n')), 0, 2, {}, ""},

    // --- Path components that are missing or are not directories.

    {"TessmarkOutputInMissingDirectory", Tool::Tessmark, NoSetup, {"in.euc", "missing/out.sjs"},
     StdoutTarget::File, Refuses("missing/out.sjs"), 0, 2, {}, ""},
    {"TessmarkInputInMissingDirectory", Tool::Tessmark, NoSetup, {"nodir/in.euc"},
     StdoutTarget::File, Refuses("nodir/in.euc"), 0, 2, {}, ""},
    // A regular file used as a directory: a different system error, the
    // same message.
    {"TessmarkInputBelowAFile", Tool::Tessmark, NoSetup, {"in.euc/x"}, StdoutTarget::File,
     Refuses("in.euc/x"), 0, 2, {}, ""},
    // The output below the input file itself: the input stays whole.
    {"TessmarkOutputBelowAFile", Tool::Tessmark, NoSetup, {"in.euc", "in.euc/out.sjs"},
     StdoutTarget::File, Refuses("in.euc/out.sjs"), 0, 2, {}, ""},
    // corvane's index sits beside its dictionary, so a missing directory is
    // always the dictionary's.
    {"CorvaneDictionaryInMissingDirectory", Tool::Corvane, NoSetup, {"nodir/x"},
     StdoutTarget::File, CorvaneRefuses("nodir/x"), 0, 2, {}, ""},
    {"CorvaneDictionaryBelowAFile", Tool::Corvane, NoSetup, {"x/y"}, StdoutTarget::File,
     CorvaneRefuses("x/y"), 0, 2, {}, ""},

    // --- Symbolic link loops.

    {"TessmarkInputLinkLoop", Tool::Tessmark, MakeLinkLoop, {"a", "out.sjs"}, StdoutTarget::File,
     Refuses("a"), 0, 2, {}, "out.sjs"},
    {"TessmarkOutputLinkLoop", Tool::Tessmark, MakeLinkLoop, {"in.euc", "a"}, StdoutTarget::File,
     Refuses("a"), 0, 2, {}, ""},
    {"CorvaneDictionaryLinkLoop", Tool::Corvane, MakeLinkLoop, {"a"}, StdoutTarget::File,
     CorvaneRefuses("a"), 0, 2, {}, "a.IND"},
    // x.IND -> l -> x.IND: the index cannot be created.
    {"CorvaneIndexLinkLoop", Tool::Corvane,
     [](const std::string& d) {
       MakeLink("x.IND", d + "/l");
       MakeLink("l", d + "/x.IND");
     },
     {"x"}, StdoutTarget::File, CorvaneRefusesIndex("x"), 0, 2, {}, ""},

    // --- The output names the input file: refused before the input is
    // emptied, whatever the name.

    {"TessmarkOutputSameName", Tool::Tessmark, MakeLinksToInput, {"in.euc", "in.euc"},
     StdoutTarget::File, Refuses("in.euc"), 0, 2, {}, ""},
    {"TessmarkOutputSameFileByAnotherPath", Tool::Tessmark, MakeLinksToInput,
     {"in.euc", "./in.euc"}, StdoutTarget::File, Refuses("./in.euc"), 0, 2, {}, ""},
    {"TessmarkOutputHardLinkToInput", Tool::Tessmark, MakeLinksToInput, {"in.euc", "hard.sjs"},
     StdoutTarget::File, Refuses("hard.sjs"), 0, 2, {}, ""},
    {"TessmarkOutputSymbolicLinkToInput", Tool::Tessmark, MakeLinksToInput,
     {"in.euc", "soft.sjs"}, StdoutTarget::File, Refuses("soft.sjs"), 0, 2, {}, ""},
    // The input's own name is the derived output name.
    {"TessmarkDerivedOutputIsTheInput", Tool::Tessmark,
     [](const std::string& d) { WriteFileBytes(d + "/x.SJS", Text); }, {"x.SJS"},
     StdoutTarget::File, Refuses("x.SJS"), 0, 2, {}, ""},

    // --- The input is a link whose target has the output's name: the
    // derived output would be the input file itself.

    // "w" -> "w.SJS", converted with one argument.
    {"TessmarkInputLinksToDerivedOutput", Tool::Tessmark,
     [](const std::string& d) {
       WriteFileBytes(d + "/w.SJS", Text);
       MakeLink("w.SJS", d + "/w");
     },
     {"w"}, StdoutTarget::File, Refuses("w.SJS"), 0, 2, {}, ""},
    // "d" -> "d.IND", indexed.
    {"CorvaneDictionaryLinksToIndexName", Tool::Corvane,
     [](const std::string& d) {
       WriteFileBytes(d + "/d.IND", Dictionary);
       MakeLink("d.IND", d + "/d");
     },
     {"d"}, StdoutTarget::File, CorvaneRefusesIndex("d"), 0, 2, {}, ""},

    // --- Names with a quote byte, which no command line carries: no names
    // at all. Each is refused as given, before any file is opened, and "ab",
    // the name without its quote, is left alone.

    {"TessmarkInputHoldsAQuote", Tool::Tessmark, MakeQuoteless, {"a\"b"}, StdoutTarget::File,
     Refuses("a\"b"), 0, 2, {}, "ab.SJS"},
    {"TessmarkOutputHoldsAQuote", Tool::Tessmark, MakeQuoteless, {"in.euc", "a\"b"},
     StdoutTarget::File, Refuses("a\"b"), 0, 2, {}, ""},
    // The input is never opened: a FIFO without a writer is not waited for.
    {"TessmarkOutputHoldsAQuoteAfterAFifo", Tool::Tessmark,
     [](const std::string& d) {
       MakeQuoteless(d);
       MakeFifoF(d);
     },
     {"f", "a\"b"}, StdoutTarget::File, Refuses("a\"b"), 0, 2, {}, ""},
    // Both: the input's name is refused first.
    {"TessmarkInputAndOutputHoldQuotes", Tool::Tessmark, MakeQuoteless, {"a\"b", "\""},
     StdoutTarget::File, Refuses("a\"b"), 0, 2, {}, ""},
    // A lone quote byte is an argument too, not an empty one.
    {"TessmarkInputIsALoneQuote", Tool::Tessmark, NoSetup, {"\""}, StdoutTarget::File,
     Refuses("\""), 0, 2, {}, ".SJS"},
    {"CorvaneDictionaryHoldsAQuote", Tool::Corvane, MakeQuoteless, {"a\"b"}, StdoutTarget::File,
     CorvaneRefuses("a\"b"), 0, 2, {}, "ab.IND"},

    // --- Creates that fail after their open succeeded change nothing: an
    // old output keeps its bytes, and a new name is not left behind.

    // The input opens on descriptor 3, so these names designate it only once
    // it is open: refused then, the input untouched.
    {"TessmarkOutputIsTheInputsDescriptor", Tool::Tessmark, NoSetup, {"in.euc", "/dev/fd/3"},
     StdoutTarget::File, Refuses("/dev/fd/3"), 0, 2, {}, ""},
    {"TessmarkOutputIsTheInputsProcEntry", Tool::Tessmark, NoSetup,
     {"in.euc", "/proc/self/fd/3"}, StdoutTarget::File, Refuses("/proc/self/fd/3"), 0, 2, {}, ""},
    // Four descriptors and standard input closed: the input takes 0 and
    // moves to 3, the output takes 0 and cannot move above 2.
    {"TessmarkOutputCannotLeaveStandardInput", Tool::TessmarkInShell, NoSetup,
     {"ulimit -n 4; exec <&- \"$0\" in.euc out.sjs"}, StdoutTarget::File, Refuses("out.sjs"), 0,
     2, {}, "out.sjs"},
    // The same with standard error closed: the output takes 2.
    {"TessmarkOutputCannotLeaveStandardError", Tool::TessmarkInShell, NoSetup,
     {"ulimit -n 4; exec 2>&- \"$0\" in.euc out.sjs"}, StdoutTarget::File, Refuses("out.sjs"), 0,
     2, {}, "out.sjs"},
};
// clang-format on

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, ExactConsoleStatusAndFiles) {
  const MatrixCase& row = GetParam();
  if (row.Program == Tool::TessmarkInShell && UnderEmulator()) {
    GTEST_SKIP() << "the descriptor limit would bound the emulator's own descriptors too";
  }
  for (bool stale : {false, true}) {
    if (stale && row.Stale.empty()) continue;
    SCOPED_TRACE(stale ? "with an old " + row.Stale : "without old output");
    ScratchDirectory dir;
    WriteFileBytes(dir / "in.euc", Text);
    WriteFileBytes(dir / "x", Dictionary);
    row.Setup(dir.Path());
    if (stale) WriteFileBytes(dir / row.Stale, StaleBytes);
    Tree expected = Snapshot(dir.Path());
    for (const auto& [name, bytes] : row.Created) expected[name] = FileEntry(bytes);

    Names arguments = row.Arguments;
    if (row.Program == Tool::TessmarkInShell) arguments = {"-c", arguments[0], TESSMARK_PATH};
    ToolRun run =
        ToolProcess(PathOf(row.Program), arguments, dir.Path(), row.Target).Finish(TimeLimit);

    ASSERT_FALSE(run.TimedOut) << "still running after " << TimeLimit << " s";
    EXPECT_EQ(run.ExitStatus, row.Status);
    EXPECT_TRUE(SameBytes(run.Stdout, row.Stdout, "stdout")) << run.Stdout;
    if (row.ReportCode == 0) {
      EXPECT_EQ(run.Stderr, "");
    } else {
      EXPECT_TRUE(IsIOReport(run.Stderr, ModuleOf(row.Program), row.ReportCode));
    }
    EXPECT_EQ(Snapshot(dir.Path()), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(EachCase, FaultMatrix, ::testing::ValuesIn(MatrixCases),
                         [](const auto& info) { return std::string(info.param.Label); });

// --- FIFOs with the other end held open by the test ---------------------------

// The input arrives in two parts, the second only once the program has taken
// the first and waits inside a 128-byte read; the writer's close ends it.
// Nothing may be lost at the seam or taken for the end of the input.
TEST(FaultMatrixFifo, TessmarkConvertsWhatAWriterSendsUntilItCloses) {
  ScratchDirectory dir;
  MakeFifo(dir / "f");
  HeldFifo writer(dir / "f");
  ASSERT_TRUE(writer.IsOpen());
  std::string first, firstConverted;
  for (int i = 0; i < 20; ++i) {  // 200 bytes: one whole block and part of the next
    first += Text;
    firstConverted += Converted;
  }
  const std::string second = "\xA4\xA6\r\nlast";
  ASSERT_TRUE(writer.Write(first));

  ToolProcess tool(TESSMARK_PATH, {"f", "out.sjs"}, dir.Path());
  EXPECT_TRUE(WaitUntilTaken(writer, tool)) << "the first part was not read";
  ASSERT_TRUE(writer.Write(second));
  EXPECT_TRUE(WaitUntilTaken(writer, tool)) << "the second part was not read";
  writer.Release();
  ToolRun run = tool.Finish(TimeLimit);

  ASSERT_FALSE(run.TimedOut) << "still running after the writer closed";
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, TessmarkSuccess);
  EXPECT_EQ(run.Stderr, "");
  EXPECT_TRUE(SameBytes(ReadFileBytes(dir / "out.sjs"), firstConverted + "\x82\xA4\r\nlast\r\n"));
  EXPECT_EQ(fs::symlink_status(dir / "f").type(), fs::file_type::fifo);
}

// Output into a FIFO that has a reader: accepted, the converted bytes arrive.
TEST(FaultMatrixFifo, TessmarkWritesIntoAFifoThatHasAReader) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", Text);
  MakeFifo(dir / "f");
  HeldFifo reader(dir / "f");
  ASSERT_TRUE(reader.IsOpen());
  ToolRun run = ToolProcess(TESSMARK_PATH, {"in.euc", "f"}, dir.Path()).Finish(TimeLimit);
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, TessmarkSuccess);
  EXPECT_TRUE(SameBytes(reader.ReadPending(), Converted));
  EXPECT_EQ(ReadFileBytes(dir / "in.euc"), Text);
}

// --- Two runs at once ------------------------------------------------------

/// Whether some process holds a lock on the file at `path`.
bool IsLocked(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  // Each line names the locked file as MAJOR:MINOR:INODE in its sixth field.
  const std::string inode = ":" + std::to_string(info.st_ino) + " ";
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    if (line.find(inode) != std::string::npos) return true;
  }
  return false;
}

/// What the first run is doing when the second starts, and so which file it
/// holds.
enum class Holder {
  TessmarkWritingOutput,     // out.sjs, its input a FIFO that the test feeds
  CorvaneLoadingDictionary,  // LongName, its console a full pipe
  CorvaneWritingIndex,       // x.IND, its console a full pipe
};

struct TwoRunsCase {
  const char* Label;
  Holder First;
  Tool Second;
  Names Arguments;     // the second run's
  std::string Stdout;  // the second run's, exact
  int Status;          // the second run's
};

void PrintTo(const TwoRunsCase& row, std::ostream* out) { *out << row.Label; }

// clang-format off
const TwoRunsCase TwoRunsCases[] = {
    // A file that one run writes is not created or emptied by another.
    {"TessmarkIntoTheOutputOfAnother", Holder::TessmarkWritingOutput, Tool::Tessmark,
     {"in.euc", "out.sjs"}, Refuses("out.sjs"), 2},
    {"TessmarkIntoTheIndexOfAnother", Holder::CorvaneWritingIndex, Tool::Tessmark,
     {"in.euc", "x.IND"}, Refuses("x.IND"), 2},
    {"CorvaneIntoTheIndexOfAnother", Holder::CorvaneWritingIndex, Tool::Corvane, {"x"},
     CorvaneRefusesIndex("x"), 2},
    // Nor the dictionary that corvane loads.
    {"TessmarkIntoADictionaryBeingLoaded", Holder::CorvaneLoadingDictionary, Tool::Tessmark,
     {"in.euc", LongName}, Refuses(LongName), 2},
    // A file being written is no dictionary to load.
    {"CorvaneLoadingAnOutputBeingWritten", Holder::TessmarkWritingOutput, Tool::Corvane,
     {"out.sjs"}, CorvaneRefuses("out.sjs"), 2},
    // Readers get in: tessmark reads what another run writes, and two runs
    // load one dictionary.
    {"TessmarkReadingAnOutputBeingWritten", Holder::TessmarkWritingOutput, Tool::Tessmark,
     {"out.sjs", "copy.sjs"}, TessmarkSuccess, 0},
    {"CorvaneLoadingADictionaryBeingLoaded", Holder::CorvaneLoadingDictionary, Tool::Corvane,
     {LongName}, CorvaneBanner + corvane_text::Loading(LongName) + corvane_text::WritingDone, 0},
};
// clang-format on

class FaultMatrixTwoRuns : public ::testing::TestWithParam<TwoRunsCase> {};

// The first run is held at a known point with its file open: tessmark
// waiting for more input, corvane waiting for its console to take a
// 128-byte buffer, the loading line of a long name or progress text. The
// second run then meets that file; once it is over the first goes on, and
// must end as if it had run alone.
TEST_P(FaultMatrixTwoRuns, ASecondRunNeverEmptiesWhatTheFirstHolds) {
  const TwoRunsCase& row = GetParam();
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", Text);
  const std::string lines = Repeat(Text, 20);  // a block and more: out.sjs gets bytes at once
  const std::string bigDictionary = Repeat(Dictionary, 5000);
  WriteFileBytes(dir / "x", bigDictionary);
  WriteFileBytes(dir / LongName, Dictionary);
  MakeFifo(dir / "f");
  HeldFifo writer(dir / "f");
  ASSERT_TRUE(writer.IsOpen());

  std::string held;
  std::unique_ptr<ToolProcess> first;
  switch (row.First) {
    case Holder::TessmarkWritingOutput:
      held = "out.sjs";
      ASSERT_TRUE(writer.Write(lines));
      first = std::make_unique<ToolProcess>(TESSMARK_PATH, Names{"f", held}, dir.Path());
      ASSERT_TRUE(WaitUntilTaken(writer, *first));
      break;
    case Holder::CorvaneLoadingDictionary:
    case Holder::CorvaneWritingIndex:
      held = row.First == Holder::CorvaneWritingIndex ? "x.IND" : LongName;
      first = std::make_unique<ToolProcess>(CORVANE_PATH, Names{held == LongName ? LongName : "x"},
                                            dir.Path(), StdoutTarget::FullPipe);
      ASSERT_TRUE(WaitWhileRunning(*first, [&] { return IsLocked(dir / held); }));
      break;
  }
  const std::string heldBytes = ReadFileBytes(dir / held);

  ToolRun second = ToolProcess(PathOf(row.Second), row.Arguments, dir.Path()).Finish(TimeLimit);
  ASSERT_FALSE(second.TimedOut);
  EXPECT_EQ(second.ExitStatus, row.Status);
  EXPECT_TRUE(SameBytes(second.Stdout, row.Stdout, "stdout")) << second.Stdout;
  // The first run may still be adding to its index, never to what was there.
  const std::string heldAfter = ReadFileBytes(dir / held);
  EXPECT_TRUE(SameBytes(heldAfter.substr(0, heldBytes.size()), heldBytes, held));

  writer.Release();
  ToolRun run = first->Finish(TimeLimit);
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 0);
  if (row.First == Holder::TessmarkWritingOutput) {
    EXPECT_TRUE(SameBytes(ReadFileBytes(dir / "out.sjs"), Repeat(Converted, 20)));
  } else if (row.First == Holder::CorvaneWritingIndex) {
    EXPECT_TRUE(SameBytes(ReadFileBytes(dir / "x.IND"), Repeat(DictionaryIndex, 5000)));
    EXPECT_EQ(ReadFileBytes(dir / "x"), bigDictionary);
  } else {
    EXPECT_TRUE(SameBytes(ReadFileBytes(dir / (LongName + ".IND")), DictionaryIndex));
    EXPECT_EQ(ReadFileBytes(dir / LongName), Dictionary);
  }
}

INSTANTIATE_TEST_SUITE_P(EachCase, FaultMatrixTwoRuns, ::testing::ValuesIn(TwoRunsCases),
                         [](const auto& info) { return std::string(info.param.Label); });

// --- Fault signals from outside -------------------------------------------------

// A fault signal that another process sends is no fault: the run ends by
// the signal's default action, without a report, leaving the console text
// that had gone out (the banner's first 128 bytes).
TEST(FaultMatrixSignals, AFaultSignalFromAnotherProcessIsNoFault) {
  // The default action dumps core; no core file is wanted.
  rlimit core{};
  getrlimit(RLIMIT_CORE, &core);
  const rlimit saved = core;
  core.rlim_cur = 0;
  setrlimit(RLIMIT_CORE, &core);
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
    SCOPED_TRACE(strsignal(signal));
    ScratchDirectory dir;
    MakeFifo(dir / "f");
    HeldFifo writer(dir / "f");
    ASSERT_TRUE(writer.IsOpen());
    ASSERT_TRUE(writer.Write(Text));
    ToolProcess tool(TESSMARK_PATH, {"f", "out.sjs"}, dir.Path());
    ASSERT_TRUE(WaitUntilTaken(writer, tool));
    tool.SendSignal(signal);
    ToolRun run = tool.Finish(TimeLimit);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.Signal, signal);
    EXPECT_EQ(run.Stdout, tessmark_text::Banner.substr(0, 128));
    // An emulator says on standard error that its program died.
    if (!UnderEmulator()) {
      EXPECT_EQ(run.Stderr, "");
    }
  }
  setrlimit(RLIMIT_CORE, &saved);
}

// A dictionary FIFO with bytes waiting in it still has size 0: refused as
// empty, and its bytes stay for their real reader.
TEST(FaultMatrixFifo, CorvaneLeavesTheBytesOfADictionaryFifo) {
  ScratchDirectory dir;
  MakeFifo(dir / "f");
  HeldFifo writer(dir / "f");
  ASSERT_TRUE(writer.IsOpen());
  ASSERT_TRUE(writer.Write(Dictionary));
  ToolRun run = ToolProcess(CORVANE_PATH, {"f"}, dir.Path()).Finish(TimeLimit);
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 2);
  EXPECT_EQ(run.Stdout, CorvaneBanner + corvane_text::Empty("f"));
  EXPECT_EQ(writer.ReadPending(), Dictionary);
  EXPECT_FALSE(FileExists(dir / "f.IND"));
}

// An index FIFO that has a reader is refused all the same: the index is
// opened for reading and writing, which a FIFO cannot serve. Nothing is
// written into it.
TEST(FaultMatrixFifo, CorvaneRefusesAnIndexFifoThatHasAReader) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "x", Dictionary);
  MakeFifo(dir / "x.IND");
  HeldFifo reader(dir / "x.IND");
  ASSERT_TRUE(reader.IsOpen());
  ToolRun run = ToolProcess(CORVANE_PATH, {"x"}, dir.Path()).Finish(TimeLimit);
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 2);
  EXPECT_EQ(run.Stdout, CorvaneRefusesIndex("x"));
  EXPECT_EQ(reader.ReadPending(), "");
  EXPECT_EQ(ReadFileBytes(dir / "x"), Dictionary);
}

}  // namespace
