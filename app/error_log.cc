#include "app/error_log.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "app/session.h"

namespace tallimo {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kSeparator = "|***********************************************************|";

std::string trim_blanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string error_message_text(const std::string& error_text, const std::string& routine_name) {
  std::string text = "The Program has encountered the following Error:";
  text += "\r\n\r\n" + error_text + "\r\n\r\n";
  text += "From the Following Routine:";
  text += "\r\n\r\n" + routine_name + "\r\n\r\n";
  text += "This Error has ben logged. Please Notify Technical Support";
  return text;
}

std::string computer_name() {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return "UnKnownName";
  std::string name;
  for (const char* p = buffer; p < buffer + sizeof buffer && *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x20) name += *p;
  }
  name = trim_blanks(name);
  return name.empty() ? "UnKnownName" : name;
}

std::string error_log_record(const std::string& error_text, const std::string& routine_name, long long now,
                             const std::string& machine) {
  std::time_t t = static_cast<std::time_t>(now);
  std::tm local{};
  ::localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S", &local);
  std::string record;
  record += kSeparator;
  record += kCrLf;
  record += error_text + kCrLf;
  record += "Function Name: " + routine_name + kCrLf;
  record += std::string(stamp) + kCrLf;
  record += "Computer Name: " + machine + kCrLf;
  record += kCrLf;
  record += kCrLf;
  return record;
}

void Error_Routine(Session& session, const std::string& error_text, const std::string& routine_name) {
  session.ui().message_box(error_message_text(error_text, routine_name), MessageButtons::kOk, MessageIcon::kNone,
                       "Tallimo");
  const std::string record = error_log_record(error_text, routine_name, std::time(nullptr), computer_name());
  const std::string path = session.application_folder() + kErrorLogName;
  // A log that cannot be opened or written (read-only folder, full disk) must
  // not end the program: the user has already seen the message.
  if (std::FILE* log = std::fopen(path.c_str(), "ab")) {
    std::fwrite(record.data(), 1, record.size(), log);
    std::fclose(log);
  }
}

}  // namespace tallimo
