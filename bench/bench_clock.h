// Timing shared by the benchmarks: wall seconds since a moment, and
// processor seconds (user and system) of this process or of the children it
// has waited for. On a shared machine processor time shows the work apart
// from the neighbours' load, which wall time includes.
#pragma once

#include <sys/resource.h>

#include <chrono>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

inline double cpu_seconds(int who = RUSAGE_SELF) {
  rusage u{};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace bench
