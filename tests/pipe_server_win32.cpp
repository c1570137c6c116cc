// A test helper of the Windows build: serves the bytes of a file through a
// named pipe, so that a test can give a program a pipe name as its input.
//
//   pipe_server NAME INSTANCES DATA-FILE MARKER [disconnect]
//
// Creates INSTANCES instances of the pipe \\.\pipe\NAME, then the file
// MARKER, so that the test knows when to go on. Each instance serves one
// client: the bytes of DATA-FILE in pieces of 3 bytes, one write each with a
// pause between them, so that the client's reads come back short; then it
// waits until the client has read everything and closes its end, which is
// the end of the client's input. With `disconnect` it disconnects the
// client before closing, as a server that goes on serving others does; the
// client's next read then fails with ERROR_PIPE_NOT_CONNECTED. The helper ends when every instance
// has served its client, or after a minute. When a pipe cannot be created it exits with status 3
// and the system's error number on standard error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Data;
bool Disconnect = false;

DWORD WINAPI Serve(void* instance) {
  HANDLE pipe = instance;
  if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
    for (std::size_t at = 0; at < Data.size(); at += 3) {
      DWORD put = 0;
      const DWORD piece = static_cast<DWORD>(Data.size() - at < 3 ? Data.size() - at : 3);
      if (!WriteFile(pipe, Data.data() + at, piece, &put, nullptr)) break;
      Sleep(2);
    }
    FlushFileBuffers(pipe);
    if (Disconnect) DisconnectNamedPipe(pipe);
  }
  CloseHandle(pipe);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fputs("usage: pipe_server NAME INSTANCES DATA-FILE MARKER [disconnect]\n", stderr);
    return 2;
  }
  Disconnect = argc == 6 && std::string(argv[5]) == "disconnect";
  const std::string name = std::string("\\\\.\\pipe\\") + argv[1];
  const int instances = std::atoi(argv[2]);
  std::ifstream file(argv[3], std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  Data = bytes.str();

  std::vector<HANDLE> threads;
  for (int i = 0; i < instances; ++i) {
    HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, instances, 4096,
                                   4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "pipe_server: cannot create %s (error %lu)\n", name.c_str(),
                   GetLastError());
      return 3;
    }
    threads.push_back(CreateThread(nullptr, 0, Serve, pipe, 0, nullptr));
  }
  HANDLE marker =
      CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(marker);
  WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 60000);
  return 0;
}
