#include "registry/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <variant>

#include "jet/error.h"

namespace registry {

namespace fs = std::filesystem;

using Value = std::variant<std::string, std::uint32_t>;

struct KeyEntry {
  std::string path;  // spelling as first written
  std::vector<std::pair<std::string, Value>> values;
};

// Keys in file order; `index` maps a lower-cased path to its position.
struct HiveData {
  std::vector<KeyEntry> keys;
  std::map<std::string, std::size_t> index;
};

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Drops leading, trailing and doubled backslashes: "\a\\b\" -> "a\b".
std::string normalize_path(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out.push_back(c);
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

[[noreturn]] void corrupt(const fs::path& file, int line, const std::string& what) {
  throw jet::Error(jet::ErrorCategory::kCorruption,
                   "registry file " + file.string() + " line " + std::to_string(line) + ": " + what);
}

// Parses a quoted string starting at text[pos] == '"'; advances pos past the closing quote.
bool parse_quoted(std::string_view text, std::size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      if (pos >= text.size()) return false;
      c = text[pos++];
      if (c != '\\' && c != '"') return false;
    }
    out.push_back(c);
  }
  return false;
}

std::string quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

KeyEntry& ensure_key(HiveData& hive, std::string_view path) {
  std::string norm = normalize_path(path);
  // Parents first, so enumeration sees every level.
  for (std::size_t cut = norm.find('\\'); cut != std::string::npos; cut = norm.find('\\', cut + 1)) {
    std::string parent = norm.substr(0, cut);
    std::string key = lower(parent);
    if (!hive.index.count(key)) {
      hive.index[key] = hive.keys.size();
      hive.keys.push_back(KeyEntry{parent, {}});
    }
  }
  std::string key = lower(norm);
  auto it = hive.index.find(key);
  if (it != hive.index.end()) return hive.keys[it->second];
  hive.index[key] = hive.keys.size();
  hive.keys.push_back(KeyEntry{norm, {}});
  return hive.keys.back();
}

std::shared_ptr<HiveData> read_hive(const fs::path& file) {
  auto hive = std::make_shared<HiveData>();
  ensure_key(*hive, "");  // the root
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return hive;
    throw jet::Error(jet::ErrorCategory::kIo, "cannot read registry file " + file.string() + ": " +
                                                  std::strerror(errno));
  }
  std::string line;
  int number = 0;
  KeyEntry* current = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == ';') continue;
    std::string_view text = std::string_view(line).substr(start);
    if (number == 1 && text == "REGEDIT4") continue;
    if (text.front() == '[') {
      if (text.back() != ']') corrupt(file, number, "key header without closing ']'");
      current = &ensure_key(*hive, text.substr(1, text.size() - 2));
      continue;
    }
    if (!current) corrupt(file, number, "value outside of any [key] section");
    std::size_t pos = 0;
    std::string name;
    if (!parse_quoted(text, pos, name)) corrupt(file, number, "value name must be a quoted text");
    if (pos >= text.size() || text[pos] != '=') corrupt(file, number, "'=' expected after value name");
    ++pos;
    Value value;
    if (pos < text.size() && text[pos] == '"') {
      std::string data;
      if (!parse_quoted(text, pos, data) || pos != text.size()) {
        corrupt(file, number, "malformed quoted text for value \"" + name + "\"");
      }
      value = std::move(data);
    } else if (text.substr(pos, 6) == "dword:") {
      std::string_view digits = text.substr(pos + 6);
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
        corrupt(file, number, "dword value \"" + name + "\" needs one to eight hex digits");
      }
      value = static_cast<std::uint32_t>(std::strtoul(std::string(digits).c_str(), nullptr, 16));
    } else {
      corrupt(file, number, "value \"" + name + "\" is neither a quoted text nor dword:");
    }
    bool replaced = false;
    for (auto& [existing, old] : current->values) {
      if (same_name(existing, name)) {
        old = value;
        replaced = true;
      }
    }
    if (!replaced) current->values.emplace_back(std::move(name), std::move(value));
  }
  return hive;
}

void write_hive(const fs::path& file, Hive which, const HiveData& hive) {
  std::ostringstream out;
  out << "REGEDIT4\n; " << hive_name(which) << "\n";
  for (const KeyEntry& key : hive.keys) {
    if (key.path.empty()) continue;
    out << "\n[" << key.path << "]\n";
    for (const auto& [name, value] : key.values) {
      out << quote(name) << '=';
      if (auto* text = std::get_if<std::string>(&value)) {
        out << quote(*text);
      } else {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", std::get<std::uint32_t>(value));
        out << buf;
      }
      out << '\n';
    }
  }
  std::string data = out.str();
  fs::path temp = file;
  temp += ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw jet::Error(jet::ErrorCategory::kIo,
                     "cannot write registry file " + temp.string() + ": " + std::strerror(errno));
  }
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw jet::Error(jet::ErrorCategory::kIo,
                       "cannot write registry file " + temp.string() + ": " + std::strerror(err));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temp.c_str(), file.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw jet::Error(jet::ErrorCategory::kIo,
                     "cannot replace registry file " + file.string() + ": " + std::strerror(err));
  }
}

// Holds the hive's writer lock for one read-modify-write.
class HiveLock {
 public:
  explicit HiveLock(const fs::path& file) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    fs::path lock = file;
    lock += ".lock";
    fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      throw jet::Error(jet::ErrorCategory::kIo,
                       "cannot open registry lock " + lock.string() + ": " + std::strerror(errno));
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int err = errno;
        ::close(fd_);
        throw jet::Error(jet::ErrorCategory::kLocked,
                         "cannot lock registry file " + file.string() + ": " + std::strerror(err));
      }
    }
  }
  ~HiveLock() { ::close(fd_); }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;

 private:
  int fd_ = -1;
};

void check_name(std::string_view name) {
  if (name.find_first_of("\r\n") != std::string_view::npos) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "registry value name may not contain a line break");
  }
}

const KeyEntry* find_key(const HiveData& hive, std::string_view path) {
  auto it = hive.index.find(lower(normalize_path(path)));
  return it == hive.index.end() ? nullptr : &hive.keys[it->second];
}

const Value* find_value(const HiveData& hive, std::string_view path, std::string_view name) {
  const KeyEntry* key = find_key(hive, path);
  if (!key) return nullptr;
  for (const auto& [existing, value] : key->values) {
    if (same_name(existing, name)) return &value;
  }
  return nullptr;
}

}  // namespace

std::string_view hive_name(Hive hive) {
  return hive == Hive::kCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

fs::path default_location() {
  const char* explicit_dir = std::getenv("TALLIMO_REGISTRY_DIR");
  if (explicit_dir && *explicit_dir) return explicit_dir;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return fs::path(config) / "tallimo" / "registry";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : ".") / ".config" / "tallimo" / "registry";
}

Store::Store(fs::path folder) : folder_(std::move(folder)) {}

Store Store::open_default() { return Store(default_location()); }

fs::path Store::hive_file(Hive hive) const {
  return folder_ / (std::string(hive_name(hive)) + ".reg");
}

std::optional<Key> Store::open_key(Hive hive, std::string_view path) const {
  std::shared_ptr<const HiveData> data = read_hive(hive_file(hive));
  const KeyEntry* key = find_key(*data, path);
  if (!key) return std::nullopt;
  return Key(folder_, hive, key->path, std::move(data));
}

Key Store::create_key(Hive hive, std::string_view path) {
  fs::path file = hive_file(hive);
  HiveLock lock(file);
  std::shared_ptr<HiveData> data = read_hive(file);
  if (!find_key(*data, path)) {
    ensure_key(*data, path);
    write_hive(file, hive, *data);
  }
  std::string spelled = find_key(*data, path)->path;
  return Key(folder_, hive, std::move(spelled), std::move(data));
}

Key::Key(fs::path folder, Hive hive, std::string path, std::shared_ptr<const HiveData> snapshot)
    : folder_(std::move(folder)), hive_(hive), path_(std::move(path)), snapshot_(std::move(snapshot)) {}

std::vector<std::string> Key::subkeys() const {
  std::vector<std::string> names;
  std::string prefix = lower(path_);
  if (!prefix.empty()) prefix.push_back('\\');
  for (const KeyEntry& key : snapshot_->keys) {
    if (key.path.size() <= prefix.size()) continue;
    if (lower(std::string_view(key.path).substr(0, prefix.size())) != prefix) continue;
    std::string_view rest = std::string_view(key.path).substr(prefix.size());
    if (rest.find('\\') == std::string_view::npos) names.emplace_back(rest);
  }
  return names;
}

std::optional<std::string> Key::query_string(std::string_view name) const {
  const Value* value = find_value(*snapshot_, path_, name);
  if (!value) return std::nullopt;
  if (auto* text = std::get_if<std::string>(value)) return *text;
  return std::nullopt;
}

std::optional<std::uint32_t> Key::query_dword(std::string_view name) const {
  const Value* value = find_value(*snapshot_, path_, name);
  if (!value) return std::nullopt;
  if (auto* number = std::get_if<std::uint32_t>(value)) return *number;
  return std::nullopt;
}

namespace {

std::shared_ptr<HiveData> set_value(const fs::path& folder, Hive hive, const std::string& path,
                                    std::string_view name, Value value) {
  check_name(name);
  if (auto* text = std::get_if<std::string>(&value)) {
    if (text->find_first_of("\r\n") != std::string::npos) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                       "registry text for value \"" + std::string(name) +
                           "\" may not contain a line break");
    }
  }
  fs::path file = folder / (std::string(hive_name(hive)) + ".reg");
  HiveLock lock(file);
  std::shared_ptr<HiveData> data = read_hive(file);
  KeyEntry& key = ensure_key(*data, path);
  bool replaced = false;
  for (auto& [existing, old] : key.values) {
    if (same_name(existing, name)) {
      old = value;
      replaced = true;
    }
  }
  if (!replaced) key.values.emplace_back(std::string(name), std::move(value));
  write_hive(file, hive, *data);
  return data;
}

}  // namespace

void Key::set_string(std::string_view name, std::string_view value) {
  snapshot_ = set_value(folder_, hive_, path_, name, std::string(value));
}

void Key::set_dword(std::string_view name, std::uint32_t value) {
  snapshot_ = set_value(folder_, hive_, path_, name, value);
}

}  // namespace registry
