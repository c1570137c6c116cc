// A test helper of the Windows build: keeps a file open with a chosen
// access and share mode while a test runs a program against it.
//
//   file_holder NAME ACCESS SHARE MARKER
//
// ACCESS is r, w or rw; SHARE is none, r, w or rw. Once the file is open the
// holder creates the file MARKER, so that the test knows when to go on, and
// then waits until it is ended (at most a minute). When the open fails it
// exits with status 3 and the system's error number on standard error.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

DWORD Rights(const std::string& letters, DWORD read, DWORD write) {
  DWORD rights = 0;
  if (letters.find('r') != std::string::npos) rights |= read;
  if (letters.find('w') != std::string::npos) rights |= write;
  return rights;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: file_holder NAME ACCESS SHARE MARKER\n", stderr);
    return 2;
  }
  DWORD access = Rights(argv[2], GENERIC_READ, GENERIC_WRITE);
  DWORD share = Rights(argv[3], FILE_SHARE_READ, FILE_SHARE_WRITE);
  HANDLE held =
      CreateFileA(argv[1], access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "file_holder: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 3;
  }
  HANDLE marker =
      CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(marker);
  Sleep(60000);
  CloseHandle(held);
  return 0;
}
