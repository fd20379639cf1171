// Whole-process timing for the benchmarks: commands run with their
// standard output thrown away, timed by the wall clock, their peak memory
// read as they exit, and goals stated as ceilings on ratios.
#ifndef D88EXTRACT_BENCH_PROCESSES_H
#define D88EXTRACT_BENCH_PROCESSES_H

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct Command {
  const char* label;
  std::vector<std::string> argv;
  std::vector<double> seconds;
  long peakKiB = 0;
  int okStatus = 0;  // a second exit status that counts as success
  int twin = -1;     // the command it is timed against, run next to it
};

// Runs the command once in dir (emptied first); returns its wall time in
// seconds.  Exits the benchmark when the command fails.
double TimeOnce(Command& c, const std::filesystem::path& dir);

// Runs the command once and sets its peak resident set (VmHWM).
void MeasurePeak(Command& c, const std::filesystem::path& dir);

double Median(std::vector<double> v);

// A figure with the ceiling it must stay under; a ceiling of 0 is none.
struct Goal {
  const char* label;  // what is compared
  double value;       // the measured figure
  const char* unit;   // printed after the figure
  double limit;       // the goal's ceiling, or 0
};

// Prints each goal, met or MISSED; true when all are met.
bool PrintGoals(const std::vector<Goal>& goals);

}  // namespace bench

#endif
