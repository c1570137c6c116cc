// A test helper of the Windows build: starts a program with a command line
// taken byte for byte from a file, so that a test can hand a program any
// command line at all, quote bytes, control bytes and bytes of 0x80 and
// above included.
//
//   command_launcher LINE-FILE PROGRAM [nul]
//
// The program inherits the launcher's standard handles, or with "nul" gets
// the NUL device as standard output; the launcher waits for it and exits
// with its exit status (255 when it could not start it).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: command_launcher LINE-FILE PROGRAM [nul]\n", stderr);
    return 255;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  std::string line = bytes.str();
  if (!file) {
    std::fprintf(stderr, "command_launcher: cannot read %s\n", argv[1]);
    return 255;
  }

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (argc > 3 && std::string(argv[3]) == "nul") {
    startup.hStdOutput = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr);
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(argv[2], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "command_launcher: cannot start %s (error %lu)\n", argv[2],
                 GetLastError());
    return 255;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 255;
  GetExitCodeProcess(process.hProcess, &status);
  return static_cast<int>(status);
}
