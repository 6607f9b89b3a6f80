// The one exception type of the engine and of the program that uses it.
//
// Every failure carries a category, so callers can tell a wrong password from a
// damaged file without parsing text, and a message that names what went wrong
// (file, page, table, column, value) in words a shop's user can act on.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace jet {

enum class ErrorCategory {
  kIo,               // the operating system refused a read, write, lock or sync
  kCorruption,       // the file's bytes contradict the format
  kNotFound,         // a file, table, column, index or row that does not exist
  kInvalidArgument,  // a caller passed something the engine cannot use
  kSyntax,           // a statement that does not parse
  kConstraint,       // a duplicate key, a value too long, a type mismatch
  kPassword,         // a missing or wrong database password
  kLocked,           // another writer holds the file
  kUnsupported,      // a valid file or statement that the engine does not handle
  kOverflow,         // a value outside its type's range (Jet's "Overflow")
};

// Short lower-case name of a category ("i/o", "corruption", ...).
std::string_view category_name(ErrorCategory category) noexcept;

class Error : public std::runtime_error {
 public:
  Error(ErrorCategory category, const std::string& message)
      : std::runtime_error(message), category_(category) {}

  ErrorCategory category() const noexcept { return category_; }

 private:
  ErrorCategory category_;
};

}  // namespace jet
