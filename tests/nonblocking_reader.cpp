// Runs a program with its standard output on a pipe that the parent has set
// non-blocking and made small, and reads it slowly: the program's writes
// meet a full pipe that answers "would block". Everything read is copied to
// this program's standard output; the exit status is the program's.
//
//   nonblocking_reader PROGRAM [ARGUMENT...]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 125;
  int fds[2];
  if (pipe(fds) != 0) return 125;
  fcntl(fds[1], F_SETPIPE_SZ, 4096);
  // The flag belongs to the open pipe, so the program inherits it.
  fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  pid_t child = fork();
  if (child < 0) return 125;
  if (child == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  close(fds[1]);
  char buffer[256];
  for (;;) {
    // Slow enough that the program finds the pipe full again and again.
    usleep(10000);
    ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    if (write(1, buffer, static_cast<size_t>(got)) != got) return 125;
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 126;
  return WEXITSTATUS(status);
}
