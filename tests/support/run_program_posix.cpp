#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/run_program.h"
#include "support/temp_tree.h"

const uint32_t kFailureStatus = 255;

std::string BuiltProgramFolder() {
  return fs::read_symlink("/proc/self/exe").parent_path().string();
}

std::string BuiltProgram(const std::string& name) {
  return BuiltProgramFolder() + "/" + name;
}

std::vector<std::string> BaseEnvironment() {
  // The built folder first, so that the program finds its Cacls companion.
  return {"PATH=" + BuiltProgramFolder() + ":/usr/local/bin:/usr/bin:/bin"};
}

std::vector<char*> NullTerminated(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

namespace {

constexpr int kStartAttempts = 5;

// The errors with which posix_spawn says the system is short of processes
// or memory for the moment. glibc reports a failure, of the file actions or
// of the exec itself, only once the child has ended: the program never ran,
// so starting it again is safe.
bool IsTransient(int error) { return error == EAGAIN || error == ENOMEM; }

RunResult WithoutStatus(const std::string& why, int error) {
  RunResult result{0, "", ""};
  result.exit_status.no_status = why + ": " + std::to_string(error) + " " + std::strerror(error);
  result.err = result.exit_status.no_status;
  return result;
}

}  // namespace

int SpawnProgram(pid_t* child, const std::string& program, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  for (int attempt = 1;; ++attempt) {
    const int error = posix_spawn(child, program.c_str(), actions, attributes, argv, envp);
    if (error == 0 || !IsTransient(error) || attempt == kStartAttempts) return error;
    std::fprintf(stderr, "[ retry    ] %s did not start (%d %s); trying again\n", program.c_str(), error,
                 std::strerror(error));
    std::this_thread::sleep_for(std::chrono::milliseconds(50 << attempt));
  }
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment,
                     const std::string& working_directory) {
  const OutputFiles capture;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, capture.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, capture.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
  }

  std::vector<char*> argv = NullTerminated(arguments);
  std::vector<char*> envp = NullTerminated(environment);

  pid_t child = 0;
  const int started = SpawnProgram(&child, program, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return WithoutStatus("did not start", started);

  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    const int error = errno;
    if (error != EINTR) return WithoutStatus("cannot wait", error);
  }
  return RunResult{WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                     : 0x80000000u | static_cast<uint32_t>(WTERMSIG(status)),
                   ReadFile(capture.out), ReadFile(capture.err)};
}
