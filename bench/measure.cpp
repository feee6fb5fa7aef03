// Times a command as a whole process: runs it n times in a directory and prints the median
// wall time in seconds and the largest peak resident memory in MiB.
//
//   measure <n> <dir> <program> [args...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: measure <n> <dir> <program> [args...]\n");
    return 2;
  }
  const int n = std::atoi(argv[1]);
  std::vector<double> times;
  long peakKiB = 0;
  for (int i = 0; i < n; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(argv[2]) != 0) _exit(127);
      if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr) ||
          !std::freopen("/dev/null", "r", stdin))
        _exit(127);
      execvp(argv[3], argv + 3);
      _exit(127);
    }
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    auto t1 = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s failed with status %d\n", argv[3], WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      return 1;
    }
    times.push_back(std::chrono::duration<double>(t1 - t0).count());
    peakKiB = std::max(peakKiB, ru.ru_maxrss);
  }
  std::sort(times.begin(), times.end());
  std::printf("%.3f %.1f\n", times[times.size() / 2], static_cast<double>(peakKiB) / 1024.0);
  return 0;
}
