// The grant command on POSIX: started from an argument vector, never
// through a shell, and waited for.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/posix.h"
#include "platform/grant.h"
#include "platform/processes.h"

extern char** environ;

namespace {

// The system's text for error in reason; -1, for the caller to return.
int DescribeErrno(int error, char* reason, std::size_t size) {
  DescribeError(CodeOfErrno(error), reason, size);
  return -1;
}

// Starts the grant of path, relative to the folder root; the error number,
// or 0 with the child in child.
int StartGrant(const char* program, const char* path, int root, pid_t& child) {
  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return error;
  posix_spawnattr_t attributes;
  error = posix_spawnattr_init(&attributes);
  if (error != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  // Its output is not ours to print; only its error output reaches the user.
  error = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (error == 0) error = posix_spawn_file_actions_addfchdir_np(&actions, root);
  // We ignore SIGPIPE; an ignored signal would stay ignored in the child.
  sigset_t default_signals;
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &default_signals);
  if (error == 0) error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  if (error == 0) {
    const char* arguments[] = {"Cacls", path, "/T", "/E", "/G", "Everyone:R", nullptr};
    error = posix_spawn(&child, program, &actions, &attributes, const_cast<char* const*>(arguments), environ);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace

const char* EveryoneGroupName() { return nullptr; }  // the POSIX Cacls takes "Everyone"

bool IsRunnableFile(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode) && access(path, X_OK) == 0;
}

int RunGrantCommand(const MenuRoot& root, const char* item, const char*, char* reason, std::size_t size) {
  std::fflush(stdout);
  char program[kLongPath];
  if (!FindGrantCommand(program, sizeof program)) {
    std::snprintf(reason, size, "%s", kGrantNotFoundReason);
    return -1;
  }
  if (root.folder == INVALID_HANDLE_VALUE) return DescribeErrno(ENOENT, reason, size);

  // Cacls starts in the Start Menu held and walks down from there without
  // following a link: a folder on the way that was swapped for a link to
  // elsewhere cannot lend what it points to the grant.
  pid_t child = 0;
  const int error = StartGrant(program, item, HandleToFd(root.folder), child);
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
