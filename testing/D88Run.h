// d88 run in-process, for the tests of its writing verbs.
#ifndef D88EXTRACT_TESTING_D88RUN_H
#define D88EXTRACT_TESTING_D88RUN_H

#include <cstdio>
#include <string>
#include <vector>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"

namespace d88test {

struct Ran {
  int status;       // the exit status
  std::string err;  // standard error
};

// Runs d88 with args (argv[1] on) in-process.
inline Ran RunD88InProcess(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"d88"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  diskimage::DiskImage disk;
  std::FILE* streams[2] = {std::tmpfile(), std::tmpfile()};
  Ran ran{d88::RunD88(disk, static_cast<int>(argv.size()), argv.data(),
                      d88::Console{streams[0], streams[1]}),
          ""};
  std::rewind(streams[1]);
  for (int c; (c = std::fgetc(streams[1])) != EOF;) ran.err += static_cast<char>(c);
  for (std::FILE* stream : streams) std::fclose(stream);
  return ran;
}

}  // namespace d88test

#endif
