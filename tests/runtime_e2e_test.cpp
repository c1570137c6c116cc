// The programs in the surroundings a shell can give them: standard streams
// closed, redirected onto the file being made, on a pipe nobody reads or on
// one set non-blocking; names that designate the input or a standard
// stream's file only once the input is open; a file-size limit; FIFOs whose
// other end comes late; an output under another process's lease; memory
// that runs out during start-up; a program file with an odd or long name,
// or far down a long path; standard error on a terminal.
// Each case runs the built program through bash in a scratch directory and
// checks the console bytes, the exit status and the files left behind.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

constexpr int TimeLimit = 20;

using corvane_text::Loading;
using corvane_text::OpenError;
using tessmark_text::Refuses;
const std::string& CorvaneBanner = corvane_text::Banner;

// tessmark's input line and what it becomes.
const std::string Text = "\xA4\xA2\xA4\xA4 \xB0\xA1\r\n";
const std::string Converted = "\x82\xA0\x82\xA2 \x88\x9F\r\n";
// One dictionary line and its index record.
const std::string Line = "a b\n";
const std::string Record("\x02\x00\x03\x00", 4);

/// Runs `script` with bash in `directory`; "$0" is the program. Under an
/// emulator each "$0" of the script starts the program through it.
ToolRun RunScript(const std::string& program, const std::string& script,
                  const std::string& directory) {
  std::string start;
  for (const std::string& word : TargetCommand("$0")) {
    start += (start.empty() ? "\"" : " \"") + word + '"';
  }
  std::string command = script;
  const std::string program0 = "\"$0\"";
  for (std::size_t at = command.find(program0); at != std::string::npos;
       at = command.find(program0, at + start.size())) {
    command.replace(at, program0.size(), start);
  }
  return ToolProcess("/bin/bash", {"-c", command, program}, directory, StdoutTarget::File,
                     ProgramMachine::Host)
      .Finish(TimeLimit);
}

/// True when `bytes` is whole records of `record` and nothing else.
::testing::AssertionResult OnlyRecords(const std::string& bytes, const std::string& record) {
  if (bytes.size() % record.size() == 0 && bytes == Repeat(record, bytes.size() / record.size())) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "not whole records: " << bytes.size() << " bytes, ending "
         << Hex(bytes.substr(bytes.size() < 80 ? 0 : bytes.size() - 80));
}

/// `text` ends in the report of an exception of `className` with `message`;
/// the address differs between builds, so only its form is checked.
::testing::AssertionResult EndsInReport(const std::string& text, const std::string& module,
                                        const std::string& className, const std::string& message) {
  const std::string head = "Exception " + className + " in module " + module + " at ";
  const std::string tail = ".\n" + message + "\r\n";
  std::size_t at = text.rfind(head);
  bool shaped = at != std::string::npos && text.size() == at + head.size() + 8 + tail.size() &&
                text.compare(at + head.size() + 8, tail.size(), tail) == 0;
  for (std::size_t i = 0; shaped && i < 8; ++i) {
    char digit = text[at + head.size() + i];
    shaped = (digit >= '0' && digit <= '9') || (digit >= 'A' && digit <= 'F');
  }
  if (shaped) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "no report of " << className << " (" << message << ") at the end of [" << text << "]";
}

// ---------------------------------------------- closed and redirected streams

// With standard error closed, the index would take descriptor 2; when the
// pipe reader goes, the report must not be written into it.
TEST(RuntimeStreams, ClosedStandardErrorNeverReceivesTheIndex) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "x", Repeat(Line, 400000));
  ToolRun run = RunScript(
      CORVANE_PATH, "\"$0\" x 2>&- | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}", dir.Path());
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_TRUE(OnlyRecords(ReadFileBytes(dir / "x.IND"), Record));
}

// The same for tessmark's output: the last console text fails at the end,
// after the whole output was written.
TEST(RuntimeStreams, ClosedStandardErrorNeverReceivesTheOutput) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", Repeat(Text, 400000));
  ToolRun run = RunScript(TESSMARK_PATH,
                          "\"$0\" in.euc out.sjs 2>&- | head -c 128 >/dev/null; "
                          "exit ${PIPESTATUS[0]}",
                          dir.Path());
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_TRUE(OnlyRecords(ReadFileBytes(dir / "out.sjs"), Converted));
  EXPECT_EQ(ReadFileBytes(dir / "out.sjs").size(), 400000 * Converted.size());
}

// Standard output or standard error redirected onto the file a program is
// about to make: refused before anything is created, so the file holds just
// what the shell sent there.
TEST(RuntimeStreams, RefusesToMakeTheFileAStandardStreamWritesTo) {
  const std::string cutOutput = "a." + Repeat('x', 45) + ".SJS";
  struct Case {
    const char* what;
    std::string program;
    std::string script;
    std::string file;
    std::string fileAfter;
    std::string stdoutAfter;
    // clang-format off
  } cases[] = {
      {"corvane, standard output on the index", CORVANE_PATH, "\"$0\" x > x.IND", "x.IND",
       CorvaneBanner + Loading("x") + OpenError("x.IND"), ""},
      {"corvane, standard error on the index", CORVANE_PATH, "\"$0\" x 2> x.IND", "x.IND", "",
       CorvaneBanner + Loading("x") + OpenError("x.IND")},
      {"tessmark, standard output on the output", TESSMARK_PATH,
       "\"$0\" in.euc out.sjs > out.sjs", "out.sjs", Refuses("out.sjs"), ""},
      {"tessmark, standard error on the derived output", TESSMARK_PATH, "\"$0\" in.euc 2>> in.SJS",
       "in.SJS", "", Refuses("in.SJS")},
      // The extension of "a." and 300 bytes is kept to its first 255 bytes,
      // so the derived name is the input's first 47 bytes and ".SJS".
      {"tessmark, standard error on the output derived from a 301-byte extension", TESSMARK_PATH,
       "\"$0\" a." + Repeat('x', 300) + " 2>> " + cutOutput, cutOutput, "", Refuses(cutOutput)},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory dir;
    WriteFileBytes(dir / "x", Line);
    WriteFileBytes(dir / "in.euc", Text);
    ToolRun run = RunScript(c.program, c.script, dir.Path());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_EQ(Hex(ReadFileBytes(dir / c.file)), Hex(c.fileAfter));
    EXPECT_EQ(run.Stdout, c.stdoutAfter);
    EXPECT_EQ(ReadFileBytes(dir / "x"), Line);
    EXPECT_EQ(ReadFileBytes(dir / "in.euc"), Text);
  }
}

// One FIFO, or one pipe reached through /dev/stdin, as input and output:
// refused at once instead of waiting for ever. A character device is
// shared by everyone and may be both.
TEST(RuntimeStreams, InputAndOutputOnTheSamePipeAreRefused) {
  struct Case {
    const char* what;
    std::string script;
    int status;
    std::string console;
    // clang-format off
  } cases[] = {
      {"one FIFO", "mkfifo f && exec \"$0\" f f", 2, Refuses("f")},
      {"standard input twice", "echo x | \"$0\" /dev/stdin /dev/stdin", 2,
       Refuses("/dev/stdin")},
      {"/dev/null twice", "exec \"$0\" /dev/null /dev/null", 0,
       tessmark_text::Success},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory dir;
    ToolRun run = RunScript(TESSMARK_PATH, c.script, dir.Path());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, c.status);
    EXPECT_EQ(run.Stdout, c.console);
  }
}

// The output name designates the input, or what a standard stream writes
// to, only once the input is open: /dev/fd/3 is the FIFO open on
// descriptor 3, and out.sjs becomes a second name of standard output's file
// while the program waits for the FIFO's writer. Refused all the same,
// without waiting; the file keeps just what the shell sent there.
TEST(RuntimeStreams, RefusesANameThatComesToDesignateAFileInUse) {
  struct Case {
    const char* what;
    std::string script;
    std::string console;
    std::string log;  // what the file "log" holds afterwards
    // clang-format off
  } cases[] = {
      {"a FIFO input on descriptor 3",
       "mkfifo f; (printf 'x\\r\\n' > f &); exec \"$0\" f /dev/fd/3", Refuses("/dev/fd/3"),
       ""},
      {"standard output's file, linked while the input waits",
       "mkfifo f; exec > log; \"$0\" f out.sjs & sleep 0.3; ln log out.sjs; (echo x > f); wait $!",
       "", Refuses("out.sjs")},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory dir;
    ToolRun run = RunScript(TESSMARK_PATH, c.script, dir.Path());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_EQ(run.Stdout, c.console);
    EXPECT_EQ(Hex(ReadFileBytes(dir / "log")), Hex(c.log));
  }
}

// ------------------------------------------------------------------ limits

// Past the file-size limit a write fails like any other: a report, status 1.
/// A run of one of the programs with arguments as the shell would see them.
struct ToolCase {
  const char* what;
  std::string program;
  std::string arguments;
  std::string module;
};

TEST(RuntimeLimits, FileSizeLimitGivesAReportNotASilentDeath) {
  const ToolCase cases[] = {
      {"corvane", CORVANE_PATH, "x", "corvane"},
      {"tessmark", TESSMARK_PATH, "in.euc out.sjs", "tessmark"},
  };
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory dir;
    WriteFileBytes(dir / "x", Repeat(Line, 2000));
    WriteFileBytes(dir / "in.euc", Repeat(Text, 2000));
    // Standard output goes to a pipe, which the limit does not bound.
    ToolRun run =
        RunScript(c.program, "ulimit -f 2; \"$0\" " + c.arguments + " | cat; exit ${PIPESTATUS[0]}",
                  dir.Path());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_TRUE(EndsInReport(run.Stdout, c.module, "EInOutError", "I/O error 223."));
    EXPECT_EQ(run.Stderr, "");
  }
}

// Text that waits for the end of the program and cannot be written then is
// a failure, reported on standard error, whatever the status would have been.
TEST(RuntimeLimits, TheLastFlushIsChecked) {
  const ToolCase cases[] = {
      {"corvane after its work", CORVANE_PATH, "x", "corvane"},
      {"tessmark after its work", TESSMARK_PATH, "in.euc out.sjs", "tessmark"},
      {"tessmark after its usage line", TESSMARK_PATH, "", "tessmark"},
  };
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory dir;
    WriteFileBytes(dir / "x", Line);
    WriteFileBytes(dir / "in.euc", Text);
    ToolRun run = RunScript(c.program,
                            "{ sleep 0.3; \"$0\" " + c.arguments +
                                "; } | true; "
                                "exit ${PIPESTATUS[0]}",
                            dir.Path());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_TRUE(EndsInReport(run.Stderr, c.module, "EInOutError", "I/O error 109."));
    EXPECT_EQ(run.Stderr.find("Exception"), 0u) << "only the report on standard error";
  }
}

// A parent may hand over a pipe it set non-blocking; a full pipe then says
// "would block", and the program waits instead of failing.
TEST(RuntimeLimits, NonBlockingStandardOutputLosesNothing) {
  ScratchDirectory reference;
  ScratchDirectory dir;
  const std::string dictionary = Repeat(Line, 400000);
  WriteFileBytes(reference / "x", dictionary);
  WriteFileBytes(dir / "x", dictionary);
  ToolRun expected = RunTool(CORVANE_PATH, {"x"}, reference.Path());
  ASSERT_EQ(expected.ExitStatus, 0);
  ASSERT_GT(expected.Stdout.size(), 16384u) << "the console text must overfill the pipe";

  std::vector<std::string> arguments = TargetCommand(CORVANE_PATH);
  arguments.push_back("x");
  ToolRun run = ToolProcess(NONBLOCKING_READER_PATH, arguments, dir.Path()).Finish(TimeLimit);
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 0) << run.Stdout.substr(run.Stdout.size() - 100);
  EXPECT_TRUE(run.Stdout == expected.Stdout) << "console text differs";
  EXPECT_TRUE(ReadFileBytes(dir / "x.IND") == ReadFileBytes(reference / "x.IND"));
}

// Memory that runs out during start-up ends in the runtime error report on
// standard error and the runtime error's number; in the main block, in the
// report of EOutOfMemory, which takes no memory to make.
TEST(RuntimeLimits, ExhaustedMemoryIsReportedNeverAborted) {
#if DICT_SANITIZED_TESTS
  GTEST_SKIP() << "the sanitizers' allocator cannot be replaced by a preloaded one";
#endif
  ScratchDirectory dir;
  WriteFileBytes(dir / "x", Repeat(Line, 40000));
  const std::string preload = "LD_PRELOAD=" FAILING_MALLOC_PATH " FAIL_MALLOC_ABOVE=65536 ";

  // A long argument makes the command line outgrow the limit.
  ToolRun startup =
      RunScript(TESSMARK_PATH, preload + "exec \"$0\" \"$(head -c 100000 /dev/zero | tr '\\0' a)\"",
                dir.Path());
  ASSERT_FALSE(startup.TimedOut);
  EXPECT_EQ(startup.ExitStatus, 203);
  EXPECT_EQ(startup.Stdout, "");
  EXPECT_EQ(startup.Stderr, "Error: Runtime error 203 at 00000000\n");

  ToolRun loading = RunScript(CORVANE_PATH, preload + "exec \"$0\" x", dir.Path());
  ASSERT_FALSE(loading.TimedOut);
  EXPECT_EQ(loading.ExitStatus, 1);
  EXPECT_EQ(loading.Stdout.rfind(CorvaneBanner, 0), 0u);
  EXPECT_TRUE(EndsInReport(loading.Stdout, "corvane", "EOutOfMemory", "Out of memory."));
  EXPECT_FALSE(FileExists(dir / "x.IND"));
}

/// How a run under a memory limit ended.
enum class LimitedRun { LoaderFailed, Normal, Reported };

/// Runs `tool` under `ulimit <limit>` and checks that it ended as the
/// program ends a run: normally, with the EOutOfMemory report and status 1,
/// or with the runtime error report alone and status 203; or that the
/// system loader itself failed (status 127 and its own message).
LimitedRun RunUnderLimit(const ToolCase& tool, const std::string& success, const std::string& limit,
                         const std::string& directory) {
  SCOPED_TRACE(std::string(tool.what) + " under ulimit " + limit);
  ToolRun run =
      RunScript(tool.program, "ulimit " + limit + "; exec \"$0\" " + tool.arguments, directory);
  EXPECT_FALSE(run.TimedOut);
  if (run.ExitStatus == 127 && run.Stdout.empty() &&
      (run.Stderr.find("error while loading shared libraries") != std::string::npos ||
       run.Stderr == "out of memory\n")) {
    return LimitedRun::LoaderFailed;
  }
  if (run.ExitStatus == 0 && run.Stdout == success) return LimitedRun::Normal;
  if (run.ExitStatus == 1) {
    EXPECT_TRUE(EndsInReport(run.Stdout, tool.module, "EOutOfMemory", "Out of memory."));
  } else {
    EXPECT_EQ(run.ExitStatus, 203) << "-1: ended by a signal; stderr [" << run.Stderr << "]";
    EXPECT_EQ(run.Stdout, "");
    EXPECT_EQ(run.Stderr, "Error: Runtime error 203 at 00000000\n");
  }
  return LimitedRun::Reported;
}

// Start-up with little memory never aborts, whatever the C++ library could
// set aside for itself. Each limit is swept in small steps from where the
// system loader itself cannot load the program up to where the program runs
// normally several times in a row; the loader's edge is found by halving
// and bisection, every run on the way checked as well.
TEST(RuntimeLimits, StartUpWithLittleMemoryNeverAborts) {
#if DICT_SANITIZED_TESTS
  GTEST_SKIP() << "the sanitizers reserve more address space than these limits allow";
#endif
  if (UnderEmulator()) {
    GTEST_SKIP() << "the limits would bound the emulator, which needs far more memory than the "
                    "program it runs";
  }
  ScratchDirectory dir;
  WriteFileBytes(dir / "x", Line);
  WriteFileBytes(dir / "in.euc", Text);
  const ToolCase tools[] = {{"corvane", CORVANE_PATH, "x", "corvane"},
                            {"tessmark", TESSMARK_PATH, "in.euc out.sjs", "tessmark"}};
  const std::string successes[] = {CorvaneBanner + Loading("x") + corvane_text::WritingDone,
                                   tessmark_text::Success};
  const struct {
    std::string option;  // of ulimit, in KiB
    int step;
    int high;  // a limit the programs run within
  } limits[] = {{"-v ", 4, 16 * 1024}, {"-d ", 3, 2 * 1024}};
  for (int t = 0; t < 2; ++t) {
    for (const auto& limit : limits) {
      auto run = [&](int kib) {
        return RunUnderLimit(tools[t], successes[t], limit.option + std::to_string(kib),
                             dir.Path());
      };
      int ran = limit.high;
      ASSERT_EQ(run(ran), LimitedRun::Normal);
      int failed = ran / 2;
      for (; run(failed) != LimitedRun::LoaderFailed; failed /= 2) {
        ASSERT_GT(failed, 1) << "the loader never failed";
        ran = failed;
      }
      while (ran - failed > limit.step) {
        int middle = failed + (ran - failed) / 2;
        (run(middle) == LimitedRun::LoaderFailed ? failed : ran) = middle;
      }
      for (int kib = failed, normal = 0; normal < 4; kib += limit.step) {
        ASSERT_LE(kib, limit.high);
        normal = run(kib) == LimitedRun::Normal ? normal + 1 : 0;
      }
    }
  }
}

// ------------------------------------------------------------------- FIFOs

/// Opens the FIFO for writing (waiting for its reader), writes, closes.
void FeedFifo(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

// An input FIFO waits for its writer, however late it comes.
TEST(RuntimeFifos, InputWaitsForAWriterThatComesLate) {
  struct Case {
    const char* what;
    std::string program;
    std::vector<std::string> arguments;
    std::string fed;
    int status;
    std::string console;
    // clang-format off
  } cases[] = {
      {"tessmark converts what arrives", TESSMARK_PATH, {"f", "out.sjs"}, Text, 0,
       tessmark_text::Success},
      {"corvane finds a FIFO's size 0", CORVANE_PATH, {"f"}, "", 2,
       CorvaneBanner + corvane_text::Empty("f")},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory dir;
    ASSERT_EQ(mkfifo((dir / "f").c_str(), 0644), 0);
    ToolProcess tool(c.program, c.arguments, dir.Path());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(tool.HasEnded()) << "did not wait for the writer";
    FeedFifo(dir / "f", c.fed);
    ToolRun run = tool.Finish(TimeLimit);
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, c.status);
    EXPECT_EQ(run.Stdout, c.console);
    if (c.status == 0) {
      EXPECT_EQ(Hex(ReadFileBytes(dir / "out.sjs")), Hex(Converted));
    }
  }
}

// ------------------------------------------------------------------ leases

// An output that another process holds under a read lease (as a file server
// may) is waited for, as any writer waits, until the lease is given up; then
// it is written as usual.
TEST(RuntimeLeases, AnOutputUnderALeaseIsWaitedFor) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", Text);
  WriteFileBytes(dir / "out.sjs", "old bytes");
  int holder = open((dir / "out.sjs").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  // A lease's holder is sent SIGIO when a writer comes; this test gives the
  // lease up itself.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGIO, &ignore, &previous);
  if (fcntl(holder, F_SETLEASE, F_RDLCK) != 0) {
    const int error = errno;
    close(holder);
    sigaction(SIGIO, &previous, nullptr);
    GTEST_SKIP() << "the file system grants no lease here: " << std::strerror(error);
  }
  ToolProcess tool(TESSMARK_PATH, {"in.euc", "out.sjs"}, dir.Path());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(tool.HasEnded()) << "did not wait for the lease";
  EXPECT_EQ(ReadFileBytes(dir / "out.sjs"), "old bytes") << "emptied under the lease";
  fcntl(holder, F_SETLEASE, F_UNLCK);
  close(holder);
  sigaction(SIGIO, &previous, nullptr);
  ToolRun run = tool.Finish(TimeLimit);
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, tessmark_text::Success);
  EXPECT_EQ(Hex(ReadFileBytes(dir / "out.sjs")), Hex(Converted));
}

// ---------------------------------------------------------- the module name

// The report names the program by its file: what follows the last '/' of
// the path the system gives (a backslash is part of the name), cut to 63
// bytes. That path is read whole however long it is, and is the file's own
// even when the program was started through a link of another name.
TEST(RuntimeModuleName, TheReportNamesTheProgramsFile) {
  const std::string longName = "tessmark-" + Repeat('m', 61);
  const std::string deep = Repeat('d', 120) + "/" + Repeat('e', 120);
  struct Case {
    const char* what;
    std::string directory;  // in the scratch directory, where the copy goes
    std::string file;       // the copy's name
    std::string started;    // the name started, in the scratch directory
    std::string module;
  } cases[] = {
      {"a backslash is part of the name", "", "tess\\mark", "tess\\mark", "tess\\mark"},
      {"a name of 70 bytes is cut to 63", "", longName, longName, longName.substr(0, 63)},
      {"a path past 256 bytes, started through a link", deep, "tessmark-at-the-end", "link",
       "tessmark-at-the-end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory dir;
    const std::string place = c.directory.empty() ? dir.Path() : dir / c.directory;
    std::filesystem::create_directories(place);
    const std::string program = place + "/" + c.file;
    std::filesystem::copy_file(TESSMARK_PATH, program);
    if (c.started != c.file) std::filesystem::create_symlink(program, dir / c.started);
    if (!c.directory.empty()) {
      ASSERT_GT(program.size(), 256u);
    }
    WriteFileBytes(dir / "in.euc", Text);
    ToolRun run = RunScript(dir / c.started, "exec \"$0\" in.euc out.sjs > /dev/full", dir.Path());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_TRUE(EndsInReport(run.Stderr, c.module, "EInOutError", "I/O error 112."));
  }
}

// ---------------------------------------------------------------- the alert

/// A pseudo-terminal, both sides held open by the test: a shell
/// can send a stream to its terminal side by name, and what is written there
/// stays to be read from the controlling side after the writer has ended.
class PseudoTerminal {
 public:
  PseudoTerminal() : controller_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (controller_ < 0 || grantpt(controller_) != 0 || unlockpt(controller_) != 0) return;
    if (const char* name = ptsname(controller_)) {
      name_ = name;
      terminal_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
  }
  ~PseudoTerminal() {
    if (terminal_ >= 0) close(terminal_);
    if (controller_ >= 0) close(controller_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool IsOpen() const { return terminal_ >= 0; }
  const std::string& Name() const { return name_; }
  /// What was written to the terminal side, until nothing more comes for a
  /// fifth of a second.
  std::string Written() {
    std::string bytes;
    pollfd ready{controller_, POLLIN, 0};
    char chunk[256];
    while (poll(&ready, 1, 200) > 0) {
      const ssize_t got = read(controller_, chunk, sizeof chunk);
      if (got <= 0) break;
      bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
  }

 private:
  int controller_;
  int terminal_ = -1;
  std::string name_;
};

// corvane sounds the alert, a BEL on standard error, when it stops on its
// own (a missing dictionary, say), and only when standard error is a
// terminal: redirected to a file it gets nothing (corvane_e2e_test.cpp).
// tessmark's stops are silent.
TEST(RuntimeAlert, CorvaneBeepsOnATerminalWhenItStops) {
  struct Case {
    const char* what;
    std::string program;
    std::string arguments;
    int status;
    std::string console;
    std::string terminal;  // what standard error's terminal receives
    // clang-format off
  } cases[] = {
      {"corvane stops: a missing dictionary", CORVANE_PATH, "missing", 2,
       CorvaneBanner + OpenError("missing"), "\a"},
      {"corvane ends normally", CORVANE_PATH, "x", 0,
       CorvaneBanner + Loading("x") + corvane_text::WritingDone, ""},
      {"tessmark stops: a missing input", TESSMARK_PATH, "missing.euc", 2,
       Refuses("missing.euc"), ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.IsOpen()) << "no pseudo-terminal: " << std::strerror(errno);
    ScratchDirectory dir;
    WriteFileBytes(dir / "x", Line);
    ToolRun run =
        RunScript(c.program, "exec \"$0\" " + c.arguments + " 2>" + terminal.Name(), dir.Path());
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitStatus, c.status);
    EXPECT_EQ(run.Stdout, c.console);
    EXPECT_EQ(Hex(terminal.Written()), Hex(c.terminal));
  }
}

}  // namespace
