#include "scanner.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace r50sim {
namespace {

const char kTrue[] = "True\r";
const char kFalse[] = "False\r";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A file number: one digit 0..6.
int file_number(const std::string& payload, size_t at) {
  if (at >= payload.size() || !is_digit(payload[at])) return -1;
  int f = payload[at] - '0';
  return f < kFileCount ? f : -1;
}

// Decimal digits from `at` up to `stop`; -1 when there are none or something else.
long decimal_until(const std::string& payload, size_t at, char stop, size_t* end) {
  size_t i = at;
  long value = 0;
  while (i < payload.size() && is_digit(payload[i])) {
    value = value * 10 + (payload[i] - '0');
    if (value > 1000000) return -1;
    ++i;
  }
  if (i == at || i >= payload.size() || payload[i] != stop) return -1;
  *end = i;
  return value;
}

std::string decode_field(const std::string& field) {
  if (field == "~") return "";
  std::string text = field;
  for (char& c : text) {
    if (c == '~') c = ' ';
  }
  return text;
}

}  // namespace

namespace {
long bytes_of(const std::vector<std::string>& records) {
  long used = 0;
  for (const auto& record : records) used += static_cast<long>(record.size()) + 1;
  return used;
}
}  // namespace

long Scanner::free_memory() const {
  long used = 0;
  for (long bytes : used_) used += bytes;
  return memory_total_ - used;
}

void Scanner::set_records(int file, std::vector<std::string> records) {
  files_.at(file) = std::move(records);
  used_.at(file) = bytes_of(files_.at(file));
}

std::string Scanner::write_record(int file, const std::string& fields_text) {
  std::vector<std::string> fields;
  if (!fields_text.empty()) {
    size_t start = 0;
    for (;;) {
      size_t space = fields_text.find(' ', start);
      fields.push_back(decode_field(fields_text.substr(start, space - start)));
      if (space == std::string::npos) break;
      start = space + 1;
    }
  }
  if (fields.size() == 8) {
    // Written: item, description, vendor, standard, cost, qty, location, list.
    // Read back: item, description, standard, cost, qty, vendor, location, list.
    fields = {fields[0], fields[1], fields[3], fields[4], fields[5], fields[2], fields[6], fields[7]};
  }
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) record += '~';
    record += fields[i];
  }
  if (static_cast<long>(record.size()) + 1 > free_memory()) return "FALSE\r";
  files_[file].push_back(record);
  used_[file] += static_cast<long>(record.size()) + 1;
  return std::to_string(free_memory()) + "\r";
}

std::string Scanner::handle(const std::string& payload) {
  if (!sync_mode_) return "";
  if (payload.empty()) return kFalse;
  switch (payload[0]) {
    case '0': {
      int f = file_number(payload, 1);
      if (f < 0 || payload.size() != 2) return kFalse;
      char text[32];
      std::snprintf(text, sizeof text, "%4d\r", static_cast<int>(files_[f].size()));
      return text;
    }
    case '1': {
      int f = file_number(payload, 1);
      if (f < 0 || payload.size() != 2) return kFalse;
      files_[f].clear();
      used_[f] = 0;
      return kTrue;
    }
    case '2': {
      int f = file_number(payload, 1);
      size_t end = 0;
      long r = f < 0 ? -1 : decimal_until(payload, 2, '~', &end);
      if (r < 0 || end + 1 != payload.size()) return kFalse;
      if (r >= static_cast<long>(files_[f].size())) return "FALSE\r";
      return files_[f][r] + "\r";
    }
    case '3': {
      int f = file_number(payload, 1);
      size_t end = 0;
      long r = f < 0 ? -1 : decimal_until(payload, 2, ' ', &end);
      if (r < 0) return kFalse;
      return write_record(f, payload.substr(end + 1));
    }
    case '4': {
      if (payload.size() < 3 || !is_digit(payload[1]) || payload[2] < '1' || payload[2] > '6') return kFalse;
      display_[payload[2] - '1'] = payload.substr(3);
      return kTrue;
    }
    case '5':
      if (payload.size() != 1) return kFalse;
      sync_mode_ = false;
      return kTrue;
    case '6':
      if (payload.size() < 2) return kFalse;
      diagnostic_ = payload.substr(1);
      return kTrue;
    default:
      return kFalse;
  }
}

void Scanner::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("r50sim: cannot read contents file " + path);
  for (auto& file : files_) file.clear();
  used_.fill(0);
  for (auto& line : display_) line.clear();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto bad = [&](const std::string& why) {
      return std::runtime_error("r50sim: " + path + " line " + std::to_string(number) + ": " + why);
    };
    size_t space = line.find(' ');
    std::string key = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "memory") {
      try {
        memory_total_ = std::stol(rest);
      } catch (const std::exception&) {
        throw bad("memory needs a number of bytes");
      }
    } else if (key == "sync") {
      if (rest != "on" && rest != "off") throw bad("sync must be on or off");
      sync_mode_ = rest == "on";
    } else if (key == "diagnostic") {
      diagnostic_ = rest;
    } else if (key == "display") {
      if (rest.size() < 1 || rest[0] < '1' || rest[0] > '6' || (rest.size() > 1 && rest[1] != ' '))
        throw bad("display needs a line 1 to 6");
      display_[rest[0] - '1'] = rest.size() > 2 ? rest.substr(2) : "";
    } else if (key == "record") {
      if (rest.empty() || rest[0] < '0' || rest[0] > '6' || (rest.size() > 1 && rest[1] != ' '))
        throw bad("record needs a file 0 to 6");
      const int f = rest[0] - '0';
      files_[f].push_back(rest.size() > 2 ? rest.substr(2) : "");
      used_[f] += static_cast<long>(files_[f].back().size()) + 1;
    } else {
      throw bad("unknown entry '" + key + "'");
    }
  }
}

void Scanner::save(const std::string& path) const {
  std::ostringstream out;
  out << "# r50sim scanner contents\n";
  out << "memory " << memory_total_ << "\n";
  out << "sync " << (sync_mode_ ? "on" : "off") << "\n";
  out << "diagnostic " << diagnostic_ << "\n";
  for (int line = 0; line < kDisplayLines; ++line) out << "display " << line + 1 << " " << display_[line] << "\n";
  for (int f = 0; f < kFileCount; ++f) {
    for (const auto& record : files_[f]) out << "record " << f << " " << record << "\n";
  }
  std::string temp = path + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.flush();
    if (!file) throw std::runtime_error("r50sim: cannot write contents file " + temp);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0)
    throw std::runtime_error("r50sim: cannot replace contents file " + path);
}

}  // namespace r50sim
