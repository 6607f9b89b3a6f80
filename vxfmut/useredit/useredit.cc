// The HotSync user manager: an in-memory copy of one data folder's user list.
#include "useredit/useredit.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

static_assert(sizeof(UserEditRecord) == 336);
static_assert(offsetof(UserEditRecord, id) == 0);
static_assert(offsetof(UserEditRecord, name) == 4);
static_assert(offsetof(UserEditRecord, folder) == 36);
static_assert(offsetof(UserEditRecord, value) == 328);

constexpr const char* kListFile = "UserEdit.users";

struct User {
  uint32_t id = 0;
  std::string name;
  std::string folder;
};

struct Manager {
  bool initialised = false;
  fs::path folder;
  std::vector<User> users;
  std::size_t next = 0;  // enumeration position
};

// Never destroyed: a client may release the manager while the process exits, after
// static objects are gone.
Manager& manager() {
  static Manager* instance = new Manager;
  return *instance;
}

void set_status(int32_t* status, int32_t value) {
  if (status) *status = value;
}

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// A name fits the record (31 characters and a terminator) and the list file.
bool valid_name(const char* text, std::size_t limit, std::string& out) {
  std::size_t length = strnlen(text, limit);
  if (length == 0 || length >= limit) return false;
  out.assign(text, length);
  return out.find_first_of("\t\r\n") == std::string::npos;
}

bool name_taken(const Manager& m, const std::string& name, uint32_t except_id) {
  for (const User& u : m.users) {
    if (u.id != except_id && same_name(u.name, name)) return true;
  }
  return false;
}

void fill(UserEditRecord* record, const Manager& m, std::size_t index) {
  const User& u = m.users[index];
  std::memset(record, 0, sizeof *record);
  record->id = u.id;
  std::snprintf(record->name, sizeof record->name, "%s", u.name.c_str());
  std::snprintf(record->folder, sizeof record->folder, "%s", u.folder.c_str());
  record->value = static_cast<uint16_t>(index + 1);
}

bool load(const fs::path& folder, std::vector<User>& users) {
  std::ifstream in(folder / kListFile);
  if (!in) {
    std::error_code ec;
    return !fs::exists(folder / kListFile, ec);
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      std::size_t tab = line.find('\t', start);
      if (tab == std::string::npos) return false;
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    fields.push_back(line.substr(start));
    User u;
    char* end = nullptr;
    unsigned long id = std::strtoul(fields[0].c_str(), &end, 10);
    if (fields[0].empty() || *end != '\0' || id == 0 || id > 0xFFFFFFFFul) return false;
    u.id = static_cast<uint32_t>(id);
    u.folder = fields[2];
    u.name = fields[3];
    if (u.name.empty() || u.name.size() > 31 || u.folder.empty() || u.folder.size() > 291) return false;
    // A folder name is one level below the data folder, never a path out of it.
    if (u.folder.find_first_of("/\\") != std::string::npos || u.folder == "." || u.folder == "..") {
      return false;
    }
    users.push_back(std::move(u));
  }
  return true;
}

std::string folder_for(const Manager& m, const std::string& name) {
  std::string base;
  for (char c : name) {
    bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == ' ' || c == '-' || c == '.';
    base.push_back(safe ? c : '_');
  }
  if (base.empty() || base == "." || base == "..") base = "User";
  std::string candidate = base;
  for (int n = 2;; ++n) {
    bool taken = false;
    for (const User& u : m.users) taken = taken || same_name(u.folder, candidate);
    if (!taken) return candidate;
    candidate = base + std::to_string(n);
  }
}

}  // namespace

extern "C" {

int32_t InitUserManager(const char* data_folder, int32_t* status) {
  try {
    Manager& m = manager();
    m = Manager{};
    if (!data_folder || !*data_folder) {
      set_status(status, kUserEditBadFolder);
      return 0;
    }
    fs::path folder(data_folder);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      set_status(status, kUserEditBadFolder);
      return 0;
    }
    std::vector<User> users;
    if (!load(folder, users)) {
      set_status(status, kUserEditIoError);
      return 0;
    }
    m.folder = folder;
    m.users = std::move(users);
    m.initialised = true;
    set_status(status, 0);
    return 1;
  } catch (...) {
    set_status(status, kUserEditIoError);
    return 0;
  }
}

int32_t UninitUserManager(int32_t* status) {
  Manager& m = manager();
  if (!m.initialised) {
    set_status(status, kUserEditNotInitialised);
    return 0;
  }
  m = Manager{};
  set_status(status, 0);
  return 1;
}

int32_t FindFirstUser(UserEditRecord* record, int32_t) {
  Manager& m = manager();
  if (!m.initialised || !record || m.users.empty()) return 0;
  fill(record, m, 0);
  m.next = 1;
  return 1;
}

int32_t FindNextUser(UserEditRecord* record, int32_t) {
  Manager& m = manager();
  if (!m.initialised || !record || m.next >= m.users.size()) return 0;
  fill(record, m, m.next++);
  return 1;
}

int32_t FindUserByID(uint32_t id, UserEditRecord* record, int32_t* status) {
  Manager& m = manager();
  if (!m.initialised) {
    set_status(status, kUserEditNotInitialised);
    return 0;
  }
  if (!record) {
    set_status(status, kUserEditBadArgument);
    return 0;
  }
  for (std::size_t i = 0; i < m.users.size(); ++i) {
    if (m.users[i].id == id) {
      fill(record, m, i);
      set_status(status, 0);
      return 1;
    }
  }
  set_status(status, kUserEditNotFound);
  return 0;
}

int32_t AddUser(UserEditRecord* record, int32_t) {
  try {
    Manager& m = manager();
    if (!m.initialised || !record) return 0;
    std::string name;
    if (!valid_name(record->name, sizeof record->name, name) || name_taken(m, name, 0)) return 0;
    uint32_t id = 0;
    for (const User& u : m.users) id = u.id > id ? u.id : id;
    if (id == 0xFFFFFFFFu) return 0;
    User u{id + 1, name, folder_for(m, name)};
    m.users.push_back(u);
    fill(record, m, m.users.size() - 1);
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t DeleteUser(uint32_t id, int32_t) {
  Manager& m = manager();
  if (!m.initialised) return 0;
  for (std::size_t i = 0; i < m.users.size(); ++i) {
    if (m.users[i].id == id) {
      m.users.erase(m.users.begin() + static_cast<std::ptrdiff_t>(i));
      if (m.next > i) --m.next;
      return 1;
    }
  }
  return 0;
}

int32_t RenameUser(uint32_t id, const char* new_name, int32_t) {
  try {
    Manager& m = manager();
    if (!m.initialised || !new_name) return 0;
    std::string name;
    if (!valid_name(new_name, 32, name) || name_taken(m, name, id)) return 0;
    for (User& u : m.users) {
      if (u.id == id) {
        u.name = name;
        return 1;
      }
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

int32_t SaveUserChanges(int32_t) {
  try {
    Manager& m = manager();
    if (!m.initialised) return 0;
    std::ostringstream out;
    out << "# HotSync users: ID, slot value, folder, name (TAB separated)\n";
    for (std::size_t i = 0; i < m.users.size(); ++i) {
      const User& u = m.users[i];
      out << u.id << '\t' << (i + 1) << '\t' << u.folder << '\t' << u.name << '\n';
    }
    std::string data = out.str();
    fs::path file = m.folder / kListFile;
    fs::path temp = m.folder / (std::string(kListFile) + ".tmp");
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
      ::unlink(temp.c_str());
      return 0;
    }
    for (const User& u : m.users) {
      std::error_code ec;
      fs::create_directory(m.folder / u.folder, ec);
      if (ec) return 0;
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
