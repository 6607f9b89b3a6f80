// The shared libraries export exactly their documented names.
#include <dlfcn.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace {

std::set<std::string> dynamic_symbols(const std::string& library) {
  std::set<std::string> names;
  std::string command = "nm -D --defined-only '" + library + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    char address[64], kind[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) names.insert(name);
  }
  ::pclose(pipe);
  return names;
}

const std::set<std::string> kVxFmUt60 = {
    "VF_AddToCommandQueueEx", "VF_AddToCommandQueue", "VF_GetNextCommandEx", "VF_GetNextCommand",
    "VF_FlushCommandQueueEx", "VF_FlushCommandQueue", "VF_GetRegisteredMsg", "VF_CreateMsgTarget",
    "VF_DeleteMsgTarget", "VF_GetUserName", "VF_GetCmdFilename", "VF_SetUserName", "VF_SetCmdFilename",
    "VF_GetCmdType", "VF_GetUserID", "VF_GetCreatorId", "VF_GetWaitFlag", "VF_SetCmdType",
    "VF_SetUserID", "VF_SetCreatorId", "VF_SetHotSyncUserId", "VF_SetWaitFlag", "VF_IncWaitFlag",
    "VF_DecWaitFlag", "VF_SeedRandom", "VF_GenerateRandom", "VF_CopyRandomXOR", "VF_GetVexFormsDir",
    "VF_GetTrennicDir", "VF_GetPalmKey", "VF_GetHotSyncDir", "VF_GetHotSyncDataDir",
    "VF_GetHotSyncPath", "VF_GetHotSyncVersion", "VF_FindFirstUser", "VF_FindNextUser",
    "VF_FindUserByID", "VF_AddUser", "VF_DeleteUser", "VF_RenameUser", "VF_CommitUserChanges",
    "VF_AbandonUserChanges", "VF_InstallPRC", "VF_CheckInstallPending", "VF_UserMaintenance"};

TEST(Exports, VxFmUt60ExportsTheDocumentedNamesOnly) {
  EXPECT_EQ(dynamic_symbols(VXFMUT_LIBRARY), kVxFmUt60);
}

TEST(Exports, UserEditExportsItsNineFunctions) {
  EXPECT_EQ(dynamic_symbols(USEREDIT_LIBRARY),
            (std::set<std::string>{"InitUserManager", "UninitUserManager", "FindFirstUser",
                                   "FindNextUser", "FindUserByID", "AddUser", "DeleteUser",
                                   "RenameUser", "SaveUserChanges"}));
}

TEST(Exports, SecondNameIsTheSameFunction) {
  // Loading here attaches to the default block of this user; only look the names up.
  std::string block = "/vxfmut-exports-" + std::to_string(::getpid());
  ::setenv("VXFMUT_SHM_NAME", block.c_str(), 1);
  ::setenv("TALLIMO_REGISTRY_DIR", "/nonexistent", 1);
  // Kept mapped after dlclose (RTLD_NODELETE): its static data stays readable, so
  // the leak check does not take what the library still holds for leaked memory.
  void* library = ::dlopen(VXFMUT_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(library, nullptr) << ::dlerror();
  EXPECT_EQ(::dlsym(library, "VF_GetTrennicDir"), ::dlsym(library, "VF_GetVexFormsDir"));
  EXPECT_EQ(::dlsym(library, "_VF_GetUserID@0"), nullptr) << "no decorated aliases on ELF";
  ::dlclose(library);
  for (const char* suffix : {"", ".lock", ".users", ".messages"}) ::shm_unlink((block + suffix).c_str());
}

}  // namespace
