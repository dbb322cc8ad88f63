#include "child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>
#include <string_view>

namespace tarvo::bench {
namespace {

constexpr std::string_view kChildOption = "--tarvo-child=";

std::map<std::string, ChildWorkload>& workloads() {
  static std::map<std::string, ChildWorkload> registry;
  return registry;
}

// The peak resident set of this process in KiB (VmHWM), or -1 when the system does not tell.
double peak_resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6));
  }
  return -1.0;
}

int run_child(const std::string& name) {
  const auto found = workloads().find(name);
  if (found == workloads().end()) {
    std::fprintf(stderr, "tarvo_bench: no child workload named %s\n", name.c_str());
    return 2;
  }
  ChildFigures figures;
  try {
    found->second(figures);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvo_bench: child workload %s failed: %s\n", name.c_str(), e.what());
    return 1;
  }
  figures["peak_kB"] = peak_resident_kib();
  for (const auto& [figure, value] : figures) std::printf("%s %.17g\n", figure.c_str(), value);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

ChildFigures parse_figures(const std::string& text) {
  ChildFigures figures;
  std::istringstream lines(text);
  std::string name;
  double value = 0.0;
  while (lines >> name >> value) figures[name] = value;
  return figures;
}

std::string read_all(int fd) {
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) {
      text.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      return text;
    }
  }
}

std::string exit_problem(int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("ended by signal ") + strsignal(WTERMSIG(status));
  return "ended abnormally";
}

}  // namespace

bool register_child_workload(const std::string& name, ChildWorkload workload) {
  workloads()[name] = workload;
  return true;
}

std::optional<int> run_child_if_asked(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option.substr(0, kChildOption.size()) != kChildOption) return std::nullopt;
  return run_child(std::string(option.substr(kChildOption.size())));
}

ChildResult run_in_child(const std::string& name) {
  const std::string where = "child workload " + name + ": ";
  // Everything the child needs is made before the fork: between fork and exec only
  // async-signal-safe calls are allowed.
  std::string program = "tarvo_bench", option = std::string(kChildOption) + name;
  char* const child_argv[] = {program.data(), option.data(), nullptr};
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {{}, where + "cannot make a pipe: " + std::strerror(errno)};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return {{}, where + "cannot fork: " + std::strerror(errno)};
  }
  if (pid == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    execv("/proc/self/exe", child_argv);
    _exit(127);
  }
  close(pipe_fds[1]);
  const std::string text = read_all(pipe_fds[0]);
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const std::string problem = exit_problem(status);
  if (!problem.empty()) return {{}, where + problem};
  ChildFigures figures = parse_figures(text);
  if (figures.count("peak_kB") == 0 || figures["peak_kB"] < 0) {
    return {{}, where + "reported no peak resident memory"};
  }
  return {std::move(figures), ""};
}

}  // namespace tarvo::bench
