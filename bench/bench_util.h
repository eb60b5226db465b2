// Small helpers the benchmark programs share: settings from the environment
// and the process's memory as the kernel counts it.
#pragma once

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

// An environment variable's value, "" when it is not set.
inline std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The process's peak resident memory so far, in KiB.
inline long peakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// The process's resident memory now, in KiB.
inline long residentKb() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4;
}

}  // namespace bench
