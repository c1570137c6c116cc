// A test-only program on the console runtime that provokes the processor
// fault named by its first argument, after writing some text without a line
// end, so that a test can check how each fault is reported. On Windows,
// "threads" instead writes how many threads the process had before
// start-up and how many after it.
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#endif

#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/io_result.h"
#include "runtime/memory.h"
#include "runtime/program.h"

namespace {

// Kept in memory the optimiser cannot see through, so that every fault
// really happens at run time.
volatile std::uintptr_t BadAddress = 0;
volatile int Divisor = 0;

volatile bool KeepGoing = true;

#ifdef _WIN32
/// The threads of this process, as the system lists them.
int CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

int ThreadsBeforeStartup = 0;
#endif

int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (!KeepGoing) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

// The processor must see the division: a sanitizer would otherwise stop it
// first with a report of its own.
__attribute__((no_sanitize("undefined"))) int Divide(int dividend, int divisor) {
  return dividend / divisor;
}

void Raise() {
  std::string fault = ArgumentAt(1);
  WriteText(ConsoleOutput, "before the fault ");
  if (fault == "read") {
    WriteInteger(ConsoleOutput, *reinterpret_cast<volatile int*>(BadAddress + 16));
  } else if (fault == "write") {
    *reinterpret_cast<volatile int*>(BadAddress + 32) = 1;
  } else if (fault == "divide") {
    WriteInteger(ConsoleOutput, Divide(100, Divisor));
  } else if (fault == "stack") {
    WriteInteger(ConsoleOutput, Recurse(0));
  } else if (fault == "memory") {
    AllocateMemory(std::uint64_t{1} << 62);
#ifdef _WIN32
  } else if (fault == "threads") {
    WriteInteger(ConsoleOutput, ThreadsBeforeStartup);
    WriteText(ConsoleOutput, " ");
    WriteInteger(ConsoleOutput, CountThreads());
#endif
  }
  WriteLineEnd(ConsoleOutput);
  CheckIOResult();
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  ThreadsBeforeStartup = CountThreads();
#endif
  RunProgram(argc, argv, Raise);
}
