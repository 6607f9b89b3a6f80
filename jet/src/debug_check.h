// Internal: invariants of the write path checked in debug builds.
//
// JET_DEBUG_CHECK(condition, what) stops the process with a message naming
// the broken invariant, the file and the line when `condition` is false.
// It is active when NDEBUG is not defined (Debug builds, the sanitizer
// build) or when JET_DEBUG_CHECKS is defined (cmake -DJET_DEBUG_CHECKS=ON);
// otherwise `condition` is not evaluated.
#pragma once

#include <cstdio>
#include <cstdlib>

#if !defined(NDEBUG) || defined(JET_DEBUG_CHECKS)
#define JET_DEBUG_CHECKS_ACTIVE 1
#define JET_DEBUG_CHECK(condition, what) \
  ((condition) ? void(0) : ::jet::debug_check_failed(#condition, what, __FILE__, __LINE__))
#else
#define JET_DEBUG_CHECKS_ACTIVE 0
#define JET_DEBUG_CHECK(condition, what) ((void)sizeof(!(condition)))  // names used, nothing evaluated
#endif

namespace jet {

[[noreturn]] inline void debug_check_failed(const char* condition, const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: engine invariant broken: %s (%s)\n", file, line, what, condition);
  std::abort();
}

}  // namespace jet
