// The registry store: reading hand-written hives, enumerating, writing back, errors.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "jet/error.h"
#include "registry/registry_store.h"

namespace {

namespace fs = std::filesystem;
using registry::Hive;
using registry::Store;

class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vxfmut-registry-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(Hive hive, const std::string& text) {
    std::ofstream(Store(dir_).hive_file(hive), std::ios::binary) << text;
  }
  std::string read(Hive hive) {
    std::ifstream in(Store(dir_).hive_file(hive), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
};

TEST_F(RegistryStore, ReadsKeysValuesAndEscapes) {
  write(Hive::kLocalMachine,
        "REGEDIT4\r\n"
        "; a comment\r\n"
        "[SOFTWARE\\Brannock\\Vexel Forms 6.0\\CurrentVersion]\r\n"
        "\"Keyname\"=\"6.0.3\"\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\\\\"Vexel\\\"\"\r\n"
        "\"Count\"=dword:0000002a\r\n"
        "\r\n"
        "[SOFTWARE\\Empty]\r\n");
  Store store(dir_);
  auto key = store.open_key(Hive::kLocalMachine, "software\\BRANNOCK\\vexel forms 6.0\\currentversion");
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->path(), "SOFTWARE\\Brannock\\Vexel Forms 6.0\\CurrentVersion") << "first spelling kept";
  EXPECT_EQ(key->query_string("keyname"), "6.0.3");
  EXPECT_EQ(key->query_string("Path"), "C:\\Program Files\\\"Vexel\"");
  EXPECT_EQ(key->query_dword("Count"), 42u);
  EXPECT_EQ(key->query_dword("Keyname"), std::nullopt) << "a text is not a number";
  EXPECT_EQ(key->query_string("Count"), std::nullopt);
  EXPECT_EQ(key->query_string("Missing"), std::nullopt);

  EXPECT_TRUE(store.open_key(Hive::kLocalMachine, "SOFTWARE\\Brannock").has_value()) << "implied parent";
  EXPECT_TRUE(store.open_key(Hive::kLocalMachine, "\\SOFTWARE\\Empty\\").has_value());
  EXPECT_FALSE(store.open_key(Hive::kLocalMachine, "SOFTWARE\\Nope").has_value());
  EXPECT_FALSE(store.open_key(Hive::kCurrentUser, "SOFTWARE").has_value()) << "missing hive is empty";
  EXPECT_TRUE(store.open_key(Hive::kCurrentUser, "").has_value()) << "the root always exists";
}

TEST_F(RegistryStore, EnumeratesDirectSubkeysInFileOrder) {
  write(Hive::kLocalMachine,
        "[SOFTWARE\\Palm\\6.1]\n[SOFTWARE\\Palm\\4.0\\Deep]\n[SOFTWARE\\Palm\\Core]\n[SOFTWARE\\Palmtop]\n");
  auto key = Store(dir_).open_key(Hive::kLocalMachine, "SOFTWARE\\Palm");
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->subkeys(), (std::vector<std::string>{"6.1", "4.0", "Core"}));
  auto root = Store(dir_).open_key(Hive::kLocalMachine, "");
  EXPECT_EQ(root->subkeys(), (std::vector<std::string>{"SOFTWARE"}));
}

TEST_F(RegistryStore, WritesValuesBackAndKeepsTheRest) {
  write(Hive::kCurrentUser, "[Software\\A]\n\"Keep\"=\"me\"\n[Software\\B]\n\"N\"=dword:1\n");
  Store store(dir_);
  auto key = store.open_key(Hive::kCurrentUser, "software\\b");
  ASSERT_TRUE(key.has_value());
  key->set_dword("Install12", 1);
  key->set_dword("n", 0xFFFFFFFFu);
  key->set_string("Text", "a \"quoted\" C:\\path");
  EXPECT_EQ(key->query_dword("Install12"), 1u) << "the key sees its own change";
  auto again = Store(dir_).open_key(Hive::kCurrentUser, "Software\\B");
  EXPECT_EQ(again->query_dword("install12"), 1u);
  EXPECT_EQ(again->query_dword("N"), 0xFFFFFFFFu);
  EXPECT_EQ(again->query_string("Text"), "a \"quoted\" C:\\path");
  EXPECT_EQ(Store(dir_).open_key(Hive::kCurrentUser, "Software\\A")->query_string("Keep"), "me");
  std::string file = read(Hive::kCurrentUser);
  EXPECT_NE(file.find("\"N\"=dword:ffffffff\n"), std::string::npos) << file;
  EXPECT_EQ(file.find("\"n\"="), std::string::npos) << "one value, first spelling kept: " << file;

  auto created = store.create_key(Hive::kLocalMachine, "SOFTWARE\\New\\Key");
  created.set_string("Path", "/opt/x");
  EXPECT_EQ(Store(dir_).open_key(Hive::kLocalMachine, "SOFTWARE\\New\\Key")->query_string("Path"), "/opt/x");
  EXPECT_THROW(created.set_string("Bad", "two\nlines"), jet::Error);
}

TEST_F(RegistryStore, ConcurrentWritersInSeveralProcessesLoseNothing) {
  write(Hive::kCurrentUser, "[Software\\HotSync Manager]\n");
  constexpr int kWriters = 4, kValues = 25;
  for (int w = 0; w < kWriters; ++w) {
    if (::fork() == 0) {
      int failures = 0;
      try {
        auto key = Store(dir_).open_key(Hive::kCurrentUser, "Software\\HotSync Manager");
        for (int v = 0; v < kValues; ++v) key->set_dword("W" + std::to_string(w) + "V" + std::to_string(v), v);
      } catch (...) {
        failures = 1;
      }
      ::_exit(failures);
    }
  }
  for (int w = 0; w < kWriters; ++w) {
    int status = 0;
    ::wait(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto key = Store(dir_).open_key(Hive::kCurrentUser, "Software\\HotSync Manager");
  for (int w = 0; w < kWriters; ++w) {
    for (int v = 0; v < kValues; ++v) {
      EXPECT_EQ(key->query_dword("W" + std::to_string(w) + "V" + std::to_string(v)), static_cast<uint32_t>(v));
    }
  }
}

TEST_F(RegistryStore, MalformedFilesNameTheFileAndLine) {
  const char* bad[] = {
      "[Software\\A\n",
      "\"Value\"=\"outside\"\n",
      "[A]\nValue=\"unquoted name\"\n",
      "[A]\n\"V\"=dword:123456789\n",
      "[A]\n\"V\"=dword:xyz\n",
      "[A]\n\"V\"=\"unterminated\n",
      "[A]\n\"V\"=hex:00\n",
  };
  for (const char* text : bad) {
    write(Hive::kLocalMachine, std::string("; header\n") + text);
    try {
      Store(dir_).open_key(Hive::kLocalMachine, "A");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.category(), jet::ErrorCategory::kCorruption);
      std::string message = e.what();
      EXPECT_NE(message.find("HKEY_LOCAL_MACHINE.reg line "), std::string::npos) << message;
    }
  }
}

TEST(RegistryLocation, FollowsTheEnvironment) {
  ::setenv("TALLIMO_REGISTRY_DIR", "/tmp/override", 1);
  EXPECT_EQ(registry::default_location(), fs::path("/tmp/override"));
  ::unsetenv("TALLIMO_REGISTRY_DIR");
  ::setenv("XDG_CONFIG_HOME", "/tmp/config", 1);
  EXPECT_EQ(registry::default_location(), fs::path("/tmp/config/tallimo/registry"));
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/home/clerk", 1);
  EXPECT_EQ(registry::default_location(), fs::path("/home/clerk/.config/tallimo/registry"));
  EXPECT_EQ(Store(registry::default_location()).hive_file(Hive::kCurrentUser),
            fs::path("/home/clerk/.config/tallimo/registry/HKEY_CURRENT_USER.reg"));
}

}  // namespace
