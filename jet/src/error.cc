#include "jet/error.h"

namespace jet {

std::string_view category_name(ErrorCategory category) noexcept {
  switch (category) {
    case ErrorCategory::kIo: return "i/o";
    case ErrorCategory::kCorruption: return "corruption";
    case ErrorCategory::kNotFound: return "not found";
    case ErrorCategory::kInvalidArgument: return "invalid argument";
    case ErrorCategory::kSyntax: return "syntax";
    case ErrorCategory::kConstraint: return "constraint";
    case ErrorCategory::kPassword: return "password";
    case ErrorCategory::kLocked: return "locked";
    case ErrorCategory::kUnsupported: return "unsupported";
    case ErrorCategory::kOverflow: return "overflow";
  }
  return "unknown";
}

}  // namespace jet
