#include "app/ir/corvia_library.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <optional>

#include "jet/error.h"

namespace tallimo::ir {
namespace {

constexpr char kLibraryName[] = "libCorvia.so";

std::mutex g_mutex;
std::optional<CorviaLibrary> g_library;
std::string g_host_path;

std::string executable_folder() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  std::string exe(path, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash);
}

bool is_folder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

template <typename F>
bool bind(void* handle, const char* name, F* out) {
  *out = reinterpret_cast<F>(::dlsym(handle, name));
  return *out != nullptr;
}

}  // namespace

CorviaLibrary load_corvia_library(const std::vector<std::string>& candidates) {
  std::string tried;
  for (const auto& candidate : candidates) {
    void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      tried += "\n  " + candidate + ": " + (why ? why : "cannot be loaded");
      continue;
    }
    CorviaLibrary lib;
    lib.path = candidate;
    const char* missing = nullptr;
    if (!bind(handle, "vbOpenIrCom", &lib.vbOpenIrCom)) missing = "vbOpenIrCom";
    else if (!bind(handle, "CloseIrCom", &lib.CloseIrCom)) missing = "CloseIrCom";
    else if (!bind(handle, "WriteIrCom", &lib.WriteIrCom)) missing = "WriteIrCom";
    else if (!bind(handle, "vbReadIrCom", &lib.vbReadIrCom)) missing = "vbReadIrCom";
    else if (!bind(handle, "CopyMem", &lib.CopyMem)) missing = "CopyMem";
    if (missing == nullptr) return lib;
    ::dlclose(handle);
    tried += "\n  " + candidate + ": has no function " + missing;
  }
  throw jet::Error(jet::ErrorCategory::kNotFound,
                   std::string("The infrared port library ") + kLibraryName + " could not be loaded. Tried:" + tried);
}

const CorviaLibrary& corvia_library() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_library) {
    std::vector<std::string> candidates;
    if (!g_host_path.empty())
      candidates.push_back(is_folder(g_host_path) ? g_host_path + "/" + kLibraryName : g_host_path);
    std::string folder = executable_folder();
    if (!folder.empty()) candidates.push_back(folder + "/" + kLibraryName);
    candidates.push_back(kLibraryName);
    g_library = load_corvia_library(candidates);
  }
  return *g_library;
}

void set_corvia_library_path(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_host_path = path;
}

}  // namespace tallimo::ir
