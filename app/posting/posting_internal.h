// Internal helpers shared by the posting engine's files.
#pragma once

#include <memory>
#include <string>

#include "jet/value.h"

namespace jet::dao {
class Database;
class Recordset;
}  // namespace jet::dao

namespace tallimo {
class Session;
namespace history {
class RunJournal;
}
}  // namespace tallimo

namespace tallimo::posting {

inline constexpr const char* kCrLf = "\r\n";

// The session's open products database; throws jet::Error when it is not open.
jet::dao::Database& products(Session& session);

// The text of a field as stored, for statements: Null gives "", numbers their
// shortest form. Not trimmed.
std::string raw_text(const jet::Value& value);

// The first `count` characters of UTF-8 `text` and what follows them.
std::string first_chars(const std::string& text, std::size_t count);
std::string chars_after(const std::string& text, std::size_t count);
std::size_t char_count(const std::string& text);

// Tells the run in progress that a change was written for the current record.
void note_write(Session& session);

// The posting history of the run in progress, or null (no run, or a run
// without one): the rules tell it what each record changed.
history::RunJournal* run_journal(Session& session);

// Counts a failure of the run in progress and reports it through Error_Routine.
void report_error(Session& session, const std::string& text, const std::string& routine);

}  // namespace tallimo::posting
