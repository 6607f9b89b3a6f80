// vxfmut_test: runs the VxFmUt60 tests (vxfmut_test_body) in a private environment.
//
// The library reads its environment when it is loaded, before main() runs, so the tests
// cannot choose their block name, runtime folder or registry from inside. This launcher,
// which does not load the library, makes a temporary folder with a registry store and a
// HotSync data folder, sets VXFMUT_SHM_NAME, TALLIMO_REGISTRY_DIR,
// VXFMUT_TEST_ROOT and QT_QPA_PLATFORM=offscreen, runs the test body with the same
// arguments, and removes the folder and the block afterwards. Every test process thus has
// a block of its own, and parallel tests never meet.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void prepare(const fs::path& root) {
  std::string palm = (root / "Palm").string();
  write_file(root / "registry" / "HKEY_CURRENT_USER.reg",
             "[Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
             "\"HotSyncPath\"=\"" + palm + "/HotSync.exe\"\n"
             "\"Path\"=\"" + palm + "/data\"\n"
             "[Software\\U.S. Robotics\\Pilot Desktop\\HotSync Manager]\n");
  write_file(root / "registry" / "HKEY_LOCAL_MACHINE.reg",
             "[SOFTWARE\\Brannock\\Vexel Forms 6.0\\CurrentVersion]\n"
             "\"Keyname\"=\"6.0.3\"\n"
             "[SOFTWARE\\Brannock\\Vexel Forms 6.0\\6.0.3]\n"
             "\"Path\"=\"" + (root / "VexelForms").string() + "\"\n"
             "[SOFTWARE\\U.S. Robotics\\PalmPilot Desktop\\4.0]\n"
             "[SOFTWARE\\U.S. Robotics\\PalmPilot Desktop\\6.1]\n"
             "[SOFTWARE\\U.S. Robotics\\PalmPilot Desktop\\Preferences]\n");
  fs::create_directories(root / "Palm" / "data");
}

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/vxfmut-test-XXXXXX";
  if (!::mkdtemp(pattern)) {
    std::perror("mkdtemp");
    return 1;
  }
  fs::path root = pattern;
  prepare(root);
  std::string shm = "/vxfmut-test-" + std::to_string(::getpid());
  ::setenv("VXFMUT_TEST_ROOT", root.c_str(), 1);
  ::setenv("VXFMUT_SHM_NAME", shm.c_str(), 1);
  ::setenv("TALLIMO_REGISTRY_DIR", (root / "registry").c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  pid_t child = ::fork();
  if (child == 0) {
    argv[0] = const_cast<char*>(VXFMUT_TEST_BODY);
    ::execv(VXFMUT_TEST_BODY, argv);
    std::perror("execv " VXFMUT_TEST_BODY);
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  for (const char* suffix : {"", ".lock", ".users", ".messages"}) ::shm_unlink((shm + suffix).c_str());
  if (WIFSIGNALED(status)) {
    std::fprintf(stderr, "test process died of signal %d\n", WTERMSIG(status));
    return 128 + WTERMSIG(status);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
