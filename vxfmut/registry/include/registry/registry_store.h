// A small registry store of our own: two hives (current user, local machine),
// each kept in one text file, with keys, subkeys and string and 32-bit values.
//
// It stands in for the system registry wherever VxFmUt60 or the desktop program
// reads or writes registry keys. No Qt, no other dependency than the standard
// library and jet::Error.
//
// Location. Both hive files lie in one folder:
//   $TALLIMO_REGISTRY_DIR, if set and not empty (tests point it at a temporary folder);
//   else $XDG_CONFIG_HOME/tallimo/registry;
//   else $HOME/.config/tallimo/registry.
// The files are HKEY_CURRENT_USER.reg and HKEY_LOCAL_MACHINE.reg. A missing file is
// an empty hive.
//
// File format (a subset of the REGEDIT4 export format, so a file can be written by
// hand or converted from a Windows export):
//
//   ; comment lines start with a semicolon; blank lines are ignored
//   [Software\Palm Computing\Pilot Desktop\Core]
//   "HotSyncPath"="C:\\Palm\\HotSync.exe"
//   "Install12"=dword:00000001
//
// A section header names a key by its full path below the hive, its parts separated
// by backslashes; its parent keys exist implicitly. Value lines follow their key:
// a quoted name, '=', then either a quoted string (backslash and double quote escaped
// by a backslash) or dword: with one to eight hexadecimal digits. Key and value names
// compare without regard to ASCII case and keep the spelling they were first written
// with. The first line written by the store is "REGEDIT4"; it is accepted, not needed.
//
// Concurrency. Every change re-reads the hive under an exclusive lock (flock on
// "<hive file>.lock"), applies the change and replaces the file atomically (write to a
// temporary file, fsync, rename), so concurrent writers in several processes never
// lose each other's changes and readers never see a half-written file. A Key reads a
// snapshot of its hive when it is opened.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace registry {

enum class Hive { kCurrentUser, kLocalMachine };

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
std::string_view hive_name(Hive hive);

// The folder chosen by the rules above.
std::filesystem::path default_location();

struct HiveData;  // parsed contents of one hive file (internal)

class Store;

// An open key: a snapshot of its hive plus where to write changes.
class Key {
 public:
  // Path of the key below its hive, as spelled when it was first written.
  const std::string& path() const { return path_; }
  Hive hive() const { return hive_; }

  // Names of the direct subkeys, in the order they first appear in the file.
  std::vector<std::string> subkeys() const;

  // The value's text; nullopt when the value is missing or is not a string.
  std::optional<std::string> query_string(std::string_view name) const;
  // The value's number; nullopt when the value is missing or is not a dword.
  std::optional<std::uint32_t> query_dword(std::string_view name) const;

  // Store a value (creating the key if it vanished meanwhile) and write the hive.
  // Throws jet::Error (kInvalidArgument for a name or text the format cannot hold,
  // kIo when the file cannot be written).
  void set_string(std::string_view name, std::string_view value);
  void set_dword(std::string_view name, std::uint32_t value);

 private:
  friend class Store;
  Key(std::filesystem::path folder, Hive hive, std::string path,
      std::shared_ptr<const HiveData> snapshot);

  std::filesystem::path folder_;
  Hive hive_;
  std::string path_;
  std::shared_ptr<const HiveData> snapshot_;
};

class Store {
 public:
  // A store in the given folder (nothing is read or created yet).
  explicit Store(std::filesystem::path folder);
  // A store in default_location().
  static Store open_default();

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path hive_file(Hive hive) const;

  // Opens an existing key; nullopt when the key does not exist. An empty path is the
  // hive's root, which always exists. Throws jet::Error (kCorruption) when the hive
  // file is malformed, naming the file and line, or kIo when it cannot be read.
  std::optional<Key> open_key(Hive hive, std::string_view path) const;

  // Opens the key, creating it (and writing the hive) when it does not exist.
  Key create_key(Hive hive, std::string_view path);

 private:
  std::filesystem::path folder_;
};

}  // namespace registry
