#include "bench/Processes.h"

#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace bench {

namespace {

// Starts argv in dir (emptied first), stdout to /dev/null; with traced,
// the child stops at its exec so that its exit can be watched.
pid_t Start(Command& c, const fs::path& dir, bool traced) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
    if (traced) ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    std::vector<char*> args;
    for (std::string& a : c.argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void CheckStatus(const Command& c, int status) {
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != c.okStatus)) {
    std::fprintf(stderr, "%s failed (status %d)\n", c.label, status);
    std::exit(1);
  }
}

}  // namespace

// Runs the command once; returns its wall time in seconds.
double TimeOnce(Command& c, const fs::path& dir) {
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(Start(c, dir, false), &status, 0);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  CheckStatus(c, status);
  return s;
}

// Runs the command once under ptrace and reads its peak resident set
// (VmHWM) as it exits.  A fork's rusage would count the parent's pages
// that the child held before its exec.
void MeasurePeak(Command& c, const fs::path& dir) {
  const pid_t pid = Start(c, dir, true);
  int status = 0;
  waitpid(pid, &status, 0);  // stopped at the exec
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT));
  ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  waitpid(pid, &status, 0);  // stopped at the exit
  std::ifstream proc("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(proc, line);) {
    if (line.rfind("VmHWM:", 0) == 0) c.peakKiB = std::atol(line.c_str() + 6);
  }
  ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  waitpid(pid, &status, 0);
  CheckStatus(c, status);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool PrintGoals(const std::vector<Goal>& goals) {
  bool allMet = true;
  std::printf("\n");
  for (const Goal& g : goals) {
    std::printf("%-34s%6.2f%-4s", g.label, g.value, g.unit);
    if (g.limit <= 0) {
      std::printf(" (no goal)\n");
      continue;
    }
    const bool met = g.value <= g.limit;
    allMet = allMet && met;
    std::printf(" goal <= %-5g %s\n", g.limit, met ? "met" : "MISSED");
  }
  std::printf("\n%s\n", allMet ? "every goal met" : "a goal was missed");
  return allMet;
}

}  // namespace bench
