#include "runtime/program.h"

#include <cstring>
#include <exception>
#include <new>

#include "runtime/arguments.h"
#include "platform/builtins.h"
#include "runtime/console.h"
#include "runtime/exceptions.h"
#include "runtime/io_result.h"

namespace {

/// Set once the program has declared itself a console program; before that,
/// reports go to a message box.
bool IsConsole = false;

/// The module name, kept where the fatal path can read it without the heap.
char ModuleNameText[64];
std::size_t ModuleNameLength = 0;

void ComputeModuleName() {
  std::string path = ArgumentAt(0);
  std::size_t start = path.size();
  while (start > 0 && !platform::IsPathSeparator(path[start - 1])) --start;
  ModuleNameLength = path.size() - start;
  if (ModuleNameLength > sizeof ModuleNameText - 1) ModuleNameLength = sizeof ModuleNameText - 1;
  std::memcpy(ModuleNameText, path.data() + start, ModuleNameLength);
  ModuleNameText[ModuleNameLength] = 0;
}

[[noreturn]] void HaltWithExceptionReport(const char* className, const char* message,
                                          std::size_t messageLength, std::uintptr_t address) {
  char report[ReportCapacity];
  std::size_t length = FormatExceptionReport(report, sizeof report, className, ModuleNameText,
                                             address, message, messageLength);
  HaltWithReport(report, length, ExitFatal, false);
}

/// Turns a processor fault into the report of its exception class. Runs on
/// the fault handler's own stack.
void FaultFilter(const platform::ExceptionRecord& record) {
  char message[160];
  const char* className = DescribeFault(record.Code, record.Address, record.IsWrite,
                                        record.DataAddress, message, sizeof message);
  HaltWithExceptionReport(className, message, std::strlen(message), CodeOffset(record.Address));
}

/// The end of a failed start-up: the runtime error report, made without the
/// heap.
[[noreturn]] void HaltInStartup() {
  char report[ReportCapacity];
  std::size_t length = FormatRuntimeErrorReport(report, sizeof report, StartupRuntimeError, 0);
  HaltWithReport(report, length, StartupRuntimeError, true);
}

}  // namespace

void HaltWithReport(const char* report, std::size_t length, std::int32_t status,
                    bool isRuntimeError) {
  if (length > ReportCapacity) length = ReportCapacity;
  if (!IsConsole) {
    char text[ReportCapacity + 1];
    std::memcpy(text, report, length);
    text[length] = 0;
    if (isRuntimeError) {
      platform::MessageBoxA(text, "Error", platform::MessageBoxOk);
    } else {
      platform::MessageBoxA(text, "Application Error",
                            platform::MessageBoxTaskModal | platform::MessageBoxIconStop);
    }
    platform::ExitProcess(static_cast<std::uint32_t>(status));
  }
  char line[ReportCapacity + 2];
  std::memcpy(line, report, length);
  line[length] = '\r';
  line[length + 1] = '\n';
  // Standard output, after what it still holds; failing that, standard
  // error alone. A report is never split between the two.
  if (!WriteWithConsoleText(line, length + 2)) {
    std::uint64_t done = 0;
    platform::WriteFile(platform::GetStdHandle(platform::StdErrorHandle), line, length + 2, &done);
  }
  platform::ExitProcess(static_cast<std::uint32_t>(status));
}

void RunProgram(int argc, char** argv, MainProcedure mainBlock) {
  // Until the program is a console program, the only failure start-up can
  // meet is exhausted memory; it ends with a runtime error report. The
  // reserve comes first, so that nothing raised from here on finds the heap
  // without room for the exception object.
  if (!KeepExceptionReserve()) HaltInStartup();
  try {
    platform::Startup(argc, argv);
    platform::SetUnhandledExceptionFilter(FaultFilter);
    ComputeModuleName();
  } catch (...) {
    HaltInStartup();
  }
  BindStandardOutput(ConsoleOutput);
  TakeIOResult();
  IsConsole = true;
  try {
    mainBlock();
    HaltWithStatus(ExitNormal);
  } catch (const Exception& error) {
    HaltWithExceptionReport(error.ClassName(), error.Message.data(), error.Message.size(),
                            error.RaiseAddress);
  } catch (const std::bad_alloc&) {
    HaltWithExceptionReport(EOutOfMemory::Name, OutOfMemoryMessage, std::strlen(OutOfMemoryMessage),
                            0);
  } catch (const std::exception& error) {
    HaltWithExceptionReport(Exception::Name, error.what(), std::strlen(error.what()), 0);
  } catch (...) {
    HaltWithExceptionReport(Exception::Name, "", 0, 0);
  }
}

DICT_NOINLINE void HaltWithStatus(std::int32_t status) {
  TakeIOResult();
  // Text still waiting for standard output goes out now; if it cannot, the
  // run did not do all it said, whatever it was about to report.
  if (!DrainTextBuffer(ConsoleOutput)) {
    std::int32_t code = TakeIOResult();
    char message[32];
    std::size_t length = FormatInOutErrorMessage(message, sizeof message, code);
    HaltWithExceptionReport(EInOutError::Name, message, length, CodeOffset(DICT_RETURN_ADDRESS()));
  }
  platform::ExitProcess(static_cast<std::uint32_t>(status));
}

void AlertBeep() { platform::MessageBeep(0); }

void HaltWithMessage(const std::string& message, StopAlert alert) {
  WriteText(ConsoleOutput, message);
  WriteLineEnd(ConsoleOutput);
  CheckIOResult();
  if (alert == StopAlert::Beep) AlertBeep();
  HaltWithStatus(ExitStopped);
}
