// Settings from the registry store, HotSync users, the install queue and the user
// maintenance dialog.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "registry/registry_store.h"
#include "test_support.h"
#include "vxfmut/vxfmut.h"

namespace {

namespace fs = std::filesystem;
using vxfmut_test::CaptureStderr;
using vxfmut_test::read_file;
using vxfmut_test::test_root;
using vxfmut_test::write_file;

std::string text_of(int32_t (*get)(char*, int32_t)) {
  char buffer[300];
  get(buffer, sizeof buffer);
  return buffer;
}

std::optional<uint32_t> install_flag(uint32_t id) {
  registry::Store store(test_root() / "registry");
  auto key = store.open_key(registry::Hive::kCurrentUser,
                            "Software\\U.S. Robotics\\Pilot Desktop\\HotSync Manager");
  if (!key) return std::nullopt;
  return key->query_dword("Install" + std::to_string(id));
}

TEST(Settings, AreReadFromTheRegistryStoreAtLoad) {
  EXPECT_EQ(text_of(VF_GetVexFormsDir), (test_root() / "VexelForms").string());
  EXPECT_EQ(text_of(VF_GetTrennicDir), (test_root() / "VexelForms").string());
  EXPECT_EQ(text_of(VF_GetPalmKey), "Software\\U.S. Robotics\\Pilot Desktop");
  EXPECT_EQ(text_of(VF_GetHotSyncPath), (test_root() / "Palm" / "HotSync.exe").string());
  EXPECT_EQ(text_of(VF_GetHotSyncDir), (test_root() / "Palm").string());
  EXPECT_EQ(text_of(VF_GetHotSyncDataDir), vxfmut_test::hotsync_data_dir().string());
  // Subkeys 4.0, 6.1 and "Preferences".
  EXPECT_EQ(VF_GetHotSyncVersion(), 0x00060001u);
  EXPECT_EQ(VF_GetPalmKey(nullptr, 0), 36) << "no buffer: the length";
}

TEST(Settings, FallBackToPalmComputingKeysAndReportAMissingProduct) {
  fs::path dir = test_root() / "registry-palm-computing";
  vxfmut_test::write_registry(
      dir,
      "[Software\\Palm Computing\\Pilot Desktop\\Core]\n"
      "\"HotSyncPath\"=\"C:\\\\Palm\\\\HotSync.exe\"\n\"Path\"=\"C:\\\\Palm\"\n",
      "[SOFTWARE\\Palm Computing\\Pilot Desktop\\3.0]\n"
      "[SOFTWARE\\Palm Computing\\Pilot Desktop\\12.34]\n"
      "[SOFTWARE\\Palm Computing\\Pilot Desktop\\Core]\n"
      "[SOFTWARE\\Palm Computing\\Pilot Desktop\\4.5.6]\n");
  vxfmut_test::Peer peer({"settings"}, {{"TALLIMO_REGISTRY_DIR", dir.string()}});
  ASSERT_EQ(peer.wait(), 0);
  EXPECT_EQ(peer.out(),
            "forms=\ntrennic=\npalm=Software\\Palm Computing\\Pilot Desktop\n"
            "hotsync_dir=C:\\Palm\nhotsync_data=C:\\Palm\nhotsync_path=C:\\Palm\\HotSync.exe\n"
            "version=000c0022\n");
  EXPECT_NE(peer.err().find("Vexel Forms is not installed properly. Please repair this installation "
                            "or run the original Vexel Forms installer. HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                            "Brannock\\Vexel Forms 6.0\\CurrentVersion is missing."),
            std::string::npos)
      << peer.err();
}

TEST(Settings, WithoutPalmKeysEverythingIsEmpty) {
  fs::path dir = test_root() / "registry-empty";
  vxfmut_test::write_registry(dir, "", "[SOFTWARE\\Brannock\\Vexel Forms 6.0\\CurrentVersion]\n");
  std::string out = vxfmut_test::run_peer({"settings", "abandon"}, {{"TALLIMO_REGISTRY_DIR", dir.string()}});
  EXPECT_EQ(out,
            "forms=\ntrennic=\npalm=\nhotsync_dir=\nhotsync_data=\nhotsync_path=\nversion=00000000\n"
            "abandon=0 status=4001\n");
}

class Users : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One committed user for the install tests.
    User_Record record{};
    std::strcpy(record.name, "Counter One");
    if (VF_FindFirstUser(&record, 0) == 0) {
      std::strcpy(record.name, "Counter One");
      ASSERT_EQ(VF_AddUser(&record, 0), 1);
      ASSERT_EQ(VF_CommitUserChanges(0), 1);
    }
  }
  uint32_t counter_one() {
    User_Record record{};
    EXPECT_EQ(VF_FindFirstUser(&record, 0), 1);
    return record.id;
  }
};

TEST_F(Users, AddFindRenameAbandonDeleteAndCommit) {
  User_Record added{};
  std::strcpy(added.name, "Jo/Clerk");
  ASSERT_EQ(VF_AddUser(&added, 0), 1);
  EXPECT_NE(added.id, 0u);
  EXPECT_STREQ(added.folder, "Jo_Clerk") << "a folder name safe on disk";
  EXPECT_EQ(added.value, 2);
  User_Record duplicate{};
  std::strcpy(duplicate.name, "JO/CLERK");
  EXPECT_EQ(VF_AddUser(&duplicate, 0), 0);
  EXPECT_EQ(duplicate.id, 0u) << "record untouched on failure";

  User_Record found{};
  int32_t status = -1;
  ASSERT_EQ(VF_FindUserByID(added.id, &found, &status), 1);
  EXPECT_EQ(status, 0);
  EXPECT_STREQ(found.name, "Jo/Clerk");
  User_Record untouched{};
  untouched.id = 77;
  EXPECT_EQ(VF_FindUserByID(0xDEAD, &untouched, &status), 0);
  EXPECT_EQ(untouched.id, 77u);

  ASSERT_EQ(VF_CommitUserChanges(0), 1);
  EXPECT_TRUE(fs::is_directory(vxfmut_test::hotsync_data_dir() / "Jo_Clerk"));

  ASSERT_EQ(VF_RenameUser(added.id, "Jo Renamed", 0), 1);
  ASSERT_EQ(VF_AbandonUserChanges(&status), 1) << "re-initialised";
  ASSERT_EQ(VF_FindUserByID(added.id, &found, &status), 1);
  EXPECT_STREQ(found.name, "Jo/Clerk") << "the uncommitted rename was thrown away";

  ASSERT_EQ(VF_DeleteUser(added.id, 0), 1);
  ASSERT_EQ(VF_CommitUserChanges(0), 1);
  User_Record first{}, second{};
  ASSERT_EQ(VF_FindFirstUser(&first, 0), 1);
  EXPECT_STREQ(first.name, "Counter One");
  EXPECT_EQ(VF_FindNextUser(&second, 0), 0);
  EXPECT_EQ(read_file(vxfmut_test::hotsync_data_dir() / "UserEdit.users").find("Jo/Clerk"), std::string::npos);
}

TEST_F(Users, InstallWithNoUserTouchesNothing) {
  fs::path source = test_root() / "Tallimo.prc";
  write_file(source, "app");
  std::string hive_before = read_file(test_root() / "registry" / "HKEY_CURRENT_USER.reg");
  VF_SetHotSyncUserId(0);
  EXPECT_EQ(VF_InstallPRC(0, source.c_str()), 0);
  EXPECT_EQ(read_file(test_root() / "registry" / "HKEY_CURRENT_USER.reg"), hive_before);
  EXPECT_FALSE(fs::exists(vxfmut_test::hotsync_data_dir() / "Counter One" / "Install"));
}

TEST_F(Users, InstallingTwiceReplacesTheCopyAndKeepsTheFlag) {
  uint32_t id = counter_one();
  fs::path source = test_root() / "src" / "Tallimo.PRC";
  write_file(source, "version 1");
  ::chmod(source.c_str(), 0444);
  VF_SetHotSyncUserId(static_cast<int32_t>(id));
  ASSERT_EQ(VF_InstallPRC(0, source.c_str()), 1) << "user 0 is the shared HotSync user";
  fs::path copy = vxfmut_test::hotsync_data_dir() / "Counter One" / "Install" / "Tallimo.PRC";
  EXPECT_EQ(read_file(copy), "version 1");
  EXPECT_EQ(fs::status(copy).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(install_flag(id), 1u);

  ::chmod(source.c_str(), 0644);
  write_file(source, "version 2, longer");
  ASSERT_EQ(VF_InstallPRC(id, source.c_str()), 1);
  EXPECT_EQ(read_file(copy), "version 2, longer");
  EXPECT_EQ(install_flag(id), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(copy.parent_path()), fs::directory_iterator()), 1)
      << "no temporary file left behind";
  VF_SetHotSyncUserId(0);
}

TEST_F(Users, UnknownUserGetsTheFlagWithoutACopy) {
  fs::path source = test_root() / "Other.prc";
  write_file(source, "x");
  EXPECT_EQ(VF_InstallPRC(4711, source.c_str()), 1);
  EXPECT_EQ(install_flag(4711), 1u);
  EXPECT_EQ(VF_CheckInstallPending(4711), 0) << "unknown users have nothing pending";
}

TEST_F(Users, FailedCopyShowsErrorWithSourceAndTarget) {
  uint32_t id = counter_one();
  CaptureStderr capture;
  std::string missing = (test_root() / "missing.prc").string();
  EXPECT_EQ(VF_InstallPRC(id, missing.c_str()), 0);
  std::string target = (vxfmut_test::hotsync_data_dir() / "Counter One" / "Install" / "missing.prc").string();
  EXPECT_EQ(capture.text(), "Vexel Forms DLL Error 1050: Couldn't copy file to install directory. / Source = \"" +
                                missing + "\" / Target = \"" + target + "\"\n");
}

TEST_F(Users, PendingOnlyForFilesNotSubfolders) {
  uint32_t id = counter_one();
  fs::path install = vxfmut_test::hotsync_data_dir() / "Counter One" / "Install";
  fs::remove_all(install);
  EXPECT_EQ(VF_CheckInstallPending(id), 0) << "no install folder";
  fs::create_directories(install / "sub" / "deeper");
  fs::create_directories(install / "other");
  write_file(install / "sub" / "inside.prc", "x");
  EXPECT_EQ(VF_CheckInstallPending(id), 0) << "only subfolders";
  write_file(install / "App.pdb", "x");
  EXPECT_EQ(VF_CheckInstallPending(id), 1);
  fs::remove_all(install);
}

TEST(UserMaintenance, ShowsTheDisabledDialogUntilCancel) {
  QString title;
  QStringList labels, row, enabled, disabled;
  int slot_width = 0, list_width = 0;
  QTimer::singleShot(50, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    for (QLabel* label : dialog->findChildren<QLabel*>()) labels << label->text();
    auto* list = dialog->findChild<QTreeWidget*>();
    ASSERT_NE(list, nullptr);
    row << list->headerItem()->text(0) << list->headerItem()->text(1);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    row << list->topLevelItem(0)->text(0) << list->topLevelItem(0)->text(1);
    slot_width = list->columnWidth(0);
    list_width = list->viewport()->width();
    QAbstractButton* cancel = nullptr;
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
      (button->isEnabled() ? enabled : disabled) << button->text();
      if (button->text() == QStringLiteral("Cancel")) cancel = button;
    }
    ASSERT_NE(cancel, nullptr);
    cancel->click();
  });
  EXPECT_EQ(VF_UserMaintenance(), 1);
  EXPECT_EQ(title, QStringLiteral("User Maintenance (DISABLED for Beta)"));
  EXPECT_EQ(labels, QStringList{QStringLiteral("Registered Users:   ")});
  EXPECT_EQ(row, QStringList({"Slot", "User Name", "1", "Beta User"}));
  EXPECT_GT(list_width, 100);
  EXPECT_EQ(slot_width, list_width / 5) << "Slot takes a fifth of the list";
  EXPECT_EQ(enabled, QStringList{QStringLiteral("Cancel")});
  EXPECT_EQ(disabled, QStringList({"OK", "&Add ...", "&Replace ...", "&Delete ..."}));
}

}  // namespace

// The user manager allows folder names of up to 291 characters; the caller's record has
// room for 259 and a terminator. Nothing past the caller's record may be written.
TEST(UserRecords, LongFolderIsCutToTheCallersFieldInEveryExport) {
  std::string long_folder(291, 'f');
  write_file(vxfmut_test::hotsync_data_dir() / "UserEdit.users",
             "7\t1\t" + long_folder + "\tLong Folder\n8\t2\tshort\tSecond\n");
  int32_t status = -1;
  VF_AbandonUserChanges(&status);  // reloads the list if an earlier test loaded it
  struct Guarded {
    User_Record record;
    unsigned char canary[64];
  };
  auto check = [&](const Guarded& g, const char* what) {
    for (unsigned char byte : g.canary) ASSERT_EQ(byte, 0xA5) << what << " wrote past the record";
    EXPECT_EQ(strnlen(g.record.folder, sizeof g.record.folder), sizeof g.record.folder - 1) << what;
    EXPECT_EQ(std::string(g.record.folder), long_folder.substr(0, 259)) << what;
    EXPECT_STREQ(g.record.name, "Long Folder") << what;
  };
  Guarded first;
  std::memset(&first, 0xA5, sizeof first);
  ASSERT_EQ(VF_FindFirstUser(&first.record, 0), 1);
  check(first, "VF_FindFirstUser");

  Guarded by_id;
  std::memset(&by_id, 0xA5, sizeof by_id);
  ASSERT_EQ(VF_FindUserByID(7, &by_id.record, &status), 1);
  check(by_id, "VF_FindUserByID");

  // The next user after a long one, then the long one again through a new enumeration
  // whose order puts it second.
  Guarded next;
  std::memset(&next, 0xA5, sizeof next);
  ASSERT_EQ(VF_FindNextUser(&next.record, 0), 1);
  EXPECT_STREQ(next.record.folder, "short");
  write_file(vxfmut_test::hotsync_data_dir() / "UserEdit.users",
             "8\t1\tshort\tSecond\n7\t2\t" + long_folder + "\tLong Folder\n");
  ASSERT_EQ(VF_AbandonUserChanges(&status), 1) << "reloads the list";
  ASSERT_EQ(VF_FindFirstUser(&first.record, 0), 1);
  std::memset(&next, 0xA5, sizeof next);
  ASSERT_EQ(VF_FindNextUser(&next.record, 0), 1);
  check(next, "VF_FindNextUser");
}
