// The grant command on POSIX: started from an argument vector, never
// through a shell, and waited for.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/messages.h"
#include "platform/posix.h"
#include "platform/processes.h"

extern char** environ;

namespace {

// The system's text for error in reason; -1, for the caller to return.
int DescribeErrno(int error, char* reason, std::size_t size) {
  DescribeError(CodeOfErrno(error), reason, size);
  return -1;
}

}  // namespace

bool IsRunnableFile(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode) && access(path, X_OK) == 0;
}

int RunGrantCommand(const char* target, char* reason, std::size_t size) {
  std::fflush(stdout);
  char program[kLongPath];
  if (!FindGrantCommand(program, sizeof program)) {
    std::snprintf(reason, size, "%s", kGrantNotFoundReason);
    return -1;
  }

  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return DescribeErrno(error, reason, size);
  // Its output is not ours to print; only its error output reaches the user.
  error = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  if (error == 0) {
    const char* arguments[] = {"Cacls", target, "/T", "/E", "/G", "Everyone:R", nullptr};
    error = posix_spawn(&child, program, &actions, nullptr, const_cast<char* const*>(arguments), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return DescribeErrno(error, reason, size);

  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return DescribeErrno(errno, reason, size);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
  if (WIFSIGNALED(status)) {
    std::snprintf(reason, size, kGrantSignalReason, WTERMSIG(status));
  } else {
    std::snprintf(reason, size, kGrantStatusReason, static_cast<unsigned long>(WEXITSTATUS(status)));
  }
  return -1;
}
