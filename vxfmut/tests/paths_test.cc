// Path and version helpers of the library.
#include <gtest/gtest.h>

#include "paths.h"

namespace {

using vxfmut::folder_of;
using vxfmut::highest_version;
using vxfmut::Join_Path;

TEST(JoinPath, KeepsExactlyOneSeparator) {
  EXPECT_EQ(Join_Path("Software\\Palm\\", "\\HotSync Manager", '\\'), "Software\\Palm\\HotSync Manager");
  EXPECT_EQ(Join_Path("Software\\Palm", "HotSync Manager", '\\'), "Software\\Palm\\HotSync Manager");
  EXPECT_EQ(Join_Path("Software\\Palm\\", "HotSync Manager", '\\'), "Software\\Palm\\HotSync Manager");
  EXPECT_EQ(Join_Path("", "HotSync Manager", '\\'), "\\HotSync Manager");
  EXPECT_EQ(Join_Path("", "\\x", '\\'), "\\x");
  EXPECT_EQ(Join_Path("/data/", "/Counter One"), "/data/Counter One");
  EXPECT_EQ(Join_Path("/data", "Install"), "/data/Install");
  EXPECT_EQ(Join_Path("", "Install"), "/Install");
  EXPECT_EQ(Join_Path("/data", ""), "/data/");
  // Only the first leading separator of the part is dropped.
  EXPECT_EQ(Join_Path("/a/", "//b"), "/a//b");
}

TEST(HighestVersion, TakesTheLargestMajorMinorName) {
  EXPECT_EQ(highest_version({"4.0", "6.1", "Preferences"}), 0x00060001u);
  EXPECT_EQ(highest_version({"6.10", "6.9"}), 0x0006000Au) << "numbers, not text";
  EXPECT_EQ(highest_version({"Core", ".5", "5.", "x1.2"}), 0u);
  EXPECT_EQ(highest_version({}), 0u);
  EXPECT_EQ(highest_version({"4.5.6"}), 0x00040005u);
  EXPECT_EQ(highest_version({"65537.65538"}), 0x00010002u) << "each part cut to 16 bits";
}

TEST(FolderOf, DropsTheFileAndTheTrailingSeparator) {
  EXPECT_EQ(folder_of("C:\\Palm\\HotSync.exe"), "C:\\Palm");
  EXPECT_EQ(folder_of("/opt/palm/hotsync"), "/opt/palm");
  EXPECT_EQ(folder_of("C:\\HotSync.exe"), "C:");
  EXPECT_EQ(folder_of("C:HotSync.exe"), "C:");
  EXPECT_EQ(folder_of("HotSync.exe"), "");
  EXPECT_EQ(folder_of(""), "");
}

}  // namespace
