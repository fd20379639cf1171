// The ordered output: reports made by any number of threads at once come
// out in the order of their turns, however long each is.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "d88/OrderedOutput.h"

namespace {

// Bytes of a sink over a string.
void Append(void* text, const char* bytes, std::size_t length) {
  static_cast<std::string*>(text)->append(bytes, length);
}

// Turn's report: length bytes that name the turn.
std::string Report(long turn, std::size_t length) {
  std::string text;
  while (text.size() < length) text += "<" + std::to_string(turn) + ">";
  text.resize(length);
  return text;
}

struct Turns {
  d88::OrderedOutput* output;
  long reports;        // turns to take in all
  std::size_t length;  // bytes of each report
  long taken = 0;      // under the output's lock
};

bool More(void* context) {
  Turns& run = *static_cast<Turns*>(context);
  return run.taken++ < run.reports;
}

struct Handing {
  d88::OrderedOutput* output;
  long turn;
};

void Hand(void* context, const char* bytes, std::size_t length) {
  const Handing& handing = *static_cast<Handing*>(context);
  handing.output->Hand(handing.turn, bytes, length);
}

// A reporting thread: turns until there are none, each report written
// through a buffer much shorter than it, an early turn slower than a late.
void Reporter(Turns* run) {
  for (;;) {
    const long turn = run->output->Take(More, run);
    if (turn < 0) return;
    if (run->reports <= 50)
      std::this_thread::sleep_for(std::chrono::milliseconds((run->reports - turn) % 4));
    char buffer[16];
    Handing handing{run->output, turn};
    output::Sink report(buffer, sizeof buffer, output::Drain{Hand, &handing});
    report.Puts(Report(turn, run->length).c_str());
    report.Flush();
    run->output->Finish(turn);
  }
}

TEST(OrderedOutput, SameBytesForAnyNumberOfThreads) {
  struct Row {
    int threads;
    long reports;
    std::size_t length;  // each report's, against a buffer of 16
  };
  const Row rows[] = {{1, 10, 0},    {1, 10, 40},  {4, 50, 5},  {4, 50, 100},
                      {8, 20, 1000}, {8, 3000, 3}, {3, 3000, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.threads << " threads, " << row.reports
                                      << " reports of " << row.length << " bytes");
    std::string written;
    char buffer[64];
    output::Sink out(buffer, sizeof buffer, output::Drain{Append, &written});
    d88::OrderedOutput ordered(out);
    Turns run{&ordered, row.reports, row.length};
    std::vector<std::thread> threads;
    for (int i = 0; i < row.threads; ++i) threads.emplace_back(Reporter, &run);
    ordered.WriteAll(nullptr);
    for (std::thread& t : threads) t.join();
    out.Flush();
    std::string expected;
    for (long turn = 0; turn < row.reports; ++turn) expected += Report(turn, row.length);
    EXPECT_EQ(written, expected);
  }
}

}  // namespace
