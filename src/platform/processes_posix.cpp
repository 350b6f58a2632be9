// The grant command on POSIX: started from an argument vector, never
// through a shell, and waited for.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix.h"
#include "platform/processes.h"

extern char** environ;

bool IsRunnableFile(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode) && access(path, X_OK) == 0;
}

void RunGrantCommand(const char* target) {
  std::fflush(stdout);
  char program[kLongPath];
  if (!FindGrantCommand(program, sizeof program)) return;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  // Its output is not ours to print; only its error output reaches the user.
  if (posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return;
  }
  const char* arguments[] = {"Cacls", target, "/T", "/E", "/G", "Everyone:R", nullptr};
  pid_t child = 0;
  const int started = posix_spawn(&child, program, &actions, nullptr,
                                  const_cast<char* const*>(arguments), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}
