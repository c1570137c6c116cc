#include "common/program.h"

#include <cstdlib>
#include <new>

#include "common/arguments.h"
#include "common/console.h"
#include "common/exceptions.h"
#include "common/platform.h"

namespace {

/// Made at start-up, so that reporting exhausted memory needs no memory.
EOutOfMemory* OutOfMemoryError = nullptr;

/// Set once the program has declared itself a console program; before that,
/// reports go to a message box.
bool IsConsole = false;

char ModuleNameText[64];
std::size_t ModuleNameLength = 0;

void ComputeModuleName() {
  char path[4096];
  std::uint32_t length = GetModuleFileNameA(path, sizeof path);
  std::uint32_t start = length;
  while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\') --start;
  ModuleNameLength = length - start;
  if (ModuleNameLength > 63) ModuleNameLength = 63;
  for (std::size_t i = 0; i < ModuleNameLength; ++i) ModuleNameText[i] = path[start + i];
  ModuleNameText[ModuleNameLength] = 0;
}

/// Writes the report where standard error can see it when standard output
/// could not take it: a failure report must never vanish.
void ReportToStandardError(const char* text, std::size_t length) {
  std::uint64_t done = 0;
  Handle error = GetStdHandle(StdErrorHandle);
  WriteFile(error, text, length, &done);
  WriteFile(error, "\r\n", 2, &done);
}

/// Appends the report after whatever `ConsoleOutput` holds and ends the run
/// with status 1. Writes through the stream's buffer without raising, so a
/// failing standard output cannot fail into this path again.
[[noreturn]] void ShowReportAndHalt(const char* report, std::size_t length) {
  if (!IsConsole) {
    std::string text(report, length);
    MessageBoxA(text.c_str(), "Application Error");
    HaltWithStatus(1);
  }
  TakeIOResult();
  WriteText(ConsoleOutput, report, length);
  WriteLineEnd(ConsoleOutput);
  // On a disk file or a pipe the report would wait for the program's end;
  // send it now so that a failure to write it is seen here.
  if (TakeIOResult() != 0 || !DrainTextBuffer(ConsoleOutput)) {
    TakeIOResult();
    ReportToStandardError(report, length);
  }
  HaltWithStatus(1);
}

[[noreturn]] void ReportException(const Exception& error) {
  std::string report = ExceptionReport(error.ClassName(), ModuleName(), error.RaiseAddress,
                                       error.Message);
  ShowReportAndHalt(report.data(), report.size());
}

/// Turns a processor fault into the report of its exception class. Runs on
/// the fault handler's own stack and uses no heap.
void FaultFilter(const ExceptionRecord& record) {
  char message[160];
  const char* className = DescribeFault(record.Code, record.Address, record.IsWrite,
                                        record.DataAddress, message, sizeof message);
  std::uintptr_t base = GetModuleHandleA();
  std::uintptr_t offset = record.Address >= base ? record.Address - base : record.Address;
  char report[256];
  std::size_t messageLength = 0;
  while (message[messageLength] != 0) ++messageLength;
  std::size_t length = FormatExceptionReport(report, sizeof report, className, ModuleNameText,
                                             offset, message, messageLength);
  if (!IsConsole) {
    report[length < sizeof report ? length : sizeof report - 1] = 0;
    MessageBoxA(report, "Application Error");
    ExitProcess(1);
  }
  // The stream's buffer goes out first, then the report, with plain system
  // writes: nothing here may allocate or raise.
  bool written = true;
  std::uint64_t done = 0;
  if (ConsoleOutput.State == StreamState::Writing) {
    if (ConsoleOutput.Position > 0) {
      written = WriteFile(ConsoleOutput.FileHandle, ConsoleOutput.Buffer, ConsoleOutput.Position,
                          &done);
    }
    written = written && WriteFile(ConsoleOutput.FileHandle, report, length, &done) &&
              WriteFile(ConsoleOutput.FileHandle, "\r\n", 2, &done);
  } else {
    written = false;
  }
  if (!written) ReportToStandardError(report, length);
  ExitProcess(1);
}

}  // namespace

std::string ModuleName() { return std::string(ModuleNameText, ModuleNameLength); }

void RunProgram(int argc, char** argv, MainProcedure mainBlock) {
  PlatformStartup(argc, argv);
  ComputeModuleName();
  SetUnhandledExceptionFilter(FaultFilter);
  BindStandardOutput(ConsoleOutput);
  TakeIOResult();
  try {
    OutOfMemoryError = new EOutOfMemory("Out of memory");
    IsConsole = true;
    mainBlock();
    HaltWithStatus(0);
  } catch (const Exception& error) {
    ReportException(error);
  } catch (const std::bad_alloc&) {
    ReportException(*OutOfMemoryError);
  }
}

void HaltWithStatus(std::int32_t status) {
  CloseConsoleOutput();
  ExitProcess(static_cast<std::uint32_t>(status));
}

void AlertBeep() { MessageBeep(0); }

std::uint8_t* AllocateMemory(std::uint64_t size) {
  if (size == 0) return nullptr;
  void* block = size > SIZE_MAX ? nullptr : std::malloc(static_cast<std::size_t>(size));
  if (block == nullptr) {
    EOutOfMemory error(*OutOfMemoryError);
    auto here = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    error.RaiseAddress = here - GetModuleHandleA();
    throw error;
  }
  return static_cast<std::uint8_t*>(block);
}

void FreeMemory(std::uint8_t* block) { std::free(block); }
