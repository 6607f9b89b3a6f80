// The command queue, shared values and random generator, through the exports of the
// loaded library and, for the layout, through the shared memory object itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "vxfmut/vxfmut.h"

namespace {

using vxfmut_test::CaptureStderr;
using vxfmut_test::RawBlock;

constexpr uint32_t kKtwd = 0x4B545744u;

void drain() {
  int32_t type;
  while (VF_GetNextCommand(&type, nullptr, 0)) {
  }
}

class CommandQueue : public ::testing::Test {
 protected:
  void SetUp() override { drain(); }
  void TearDown() override { drain(); }
};

TEST_F(CommandQueue, HoldsFiveHundredTwelveAndRefusesTheNextSilently) {
  for (int i = 0; i < 512; ++i) {
    std::string file = "file" + std::to_string(i) + ".pdb";
    ASSERT_EQ(VF_AddToCommandQueueEx(1 + i % 5, file.c_str(), 0x41424344u + i, "x", i, -i, 7), 1) << i;
  }
  {
    CaptureStderr capture;
    EXPECT_EQ(VF_AddToCommandQueue(1, "one-too-many.prc"), 0);
    EXPECT_EQ(capture.text(), "") << "a full queue refuses without a message";
  }
  RawBlock raw(vxfmut_test::shm_name());
  EXPECT_EQ(raw.int_at(RawBlock::kReadIndex), raw.int_at(RawBlock::kWriteIndex)) << "full";

  for (int i = 0; i < 512; ++i) {
    int32_t type = 0, v1 = 0, v2 = 0, v3 = 0;
    uint32_t creator = 0;
    char file[64];
    ASSERT_EQ(VF_GetNextCommandEx(&type, file, sizeof file, &creator, nullptr, &v1, &v2, &v3), 1) << i;
    EXPECT_EQ(type, 1 + i % 5);
    EXPECT_EQ(std::string(file), "file" + std::to_string(i) + ".pdb");
    EXPECT_EQ(creator, 0x41424344u + i);
    EXPECT_EQ(v1, i);
    EXPECT_EQ(v2, -i);
    EXPECT_EQ(v3, 7);
  }
  int32_t type = 99;
  char file[16] = "untouched";
  EXPECT_EQ(VF_GetNextCommand(&type, file, sizeof file), 0);
  EXPECT_EQ(type, 99) << "an empty queue writes nothing";
  EXPECT_STREQ(file, "untouched");
}

TEST_F(CommandQueue, StartsAgainAtSlotZeroAfterRunningEmpty) {
  RawBlock raw(vxfmut_test::shm_name());
  ASSERT_EQ(VF_AddToCommandQueue(1, "a.prc"), 1);
  ASSERT_EQ(VF_AddToCommandQueue(2, "b.prc"), 1);
  ASSERT_EQ(VF_AddToCommandQueue(6, "c.prc"), 1);
  int32_t type;
  ASSERT_EQ(VF_GetNextCommand(&type, nullptr, 0), 1);
  ASSERT_EQ(VF_GetNextCommand(&type, nullptr, 0), 1);
  ASSERT_EQ(VF_GetNextCommand(&type, nullptr, 0), 1);
  EXPECT_EQ(raw.int_at(RawBlock::kReadIndex), -1);
  int32_t write_before = raw.int_at(RawBlock::kWriteIndex);

  ASSERT_EQ(VF_AddToCommandQueue(9, "again.prc"), 1);
  EXPECT_EQ(raw.int_at(RawBlock::kReadIndex), 0);
  EXPECT_EQ(raw.int_at(RawBlock::kWriteIndex), 1);
  EXPECT_NE(write_before, 0) << "the write index had moved on before";
  // Slot 0: type at +0, file name at +24.
  EXPECT_EQ(raw.int_at(RawBlock::kEntries), 9);
  EXPECT_EQ(raw.text_at(RawBlock::kEntries + 24), "again.prc");
}

TEST_F(CommandQueue, WrapsAroundTheEndOfTheArray) {
  // Move the indices near the end, then queue across the wrap.
  int32_t type;
  for (int i = 0; i < 510; ++i) ASSERT_EQ(VF_AddToCommandQueue(1, "fill"), 1);
  for (int i = 0; i < 509; ++i) ASSERT_EQ(VF_GetNextCommand(&type, nullptr, 0), 1);
  for (int i = 0; i < 5; ++i) {
    std::string file = "w" + std::to_string(i);
    ASSERT_EQ(VF_AddToCommandQueue(2, file.c_str()), 1);
  }
  char file[16];
  ASSERT_EQ(VF_GetNextCommand(&type, file, sizeof file), 1);
  EXPECT_STREQ(file, "fill");
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(VF_GetNextCommand(&type, file, sizeof file), 1);
    EXPECT_EQ(std::string(file), "w" + std::to_string(i));
  }
  EXPECT_EQ(VF_GetNextCommand(&type, file, sizeof file), 0);
}

TEST_F(CommandQueue, RejectsBadCommandsWithCodedErrors) {
  struct Case {
    int32_t type;
    const char* file;
    uint32_t creator;
    std::string expected;  // stderr
  };
  const std::string e1010 = "Vexel Forms DLL Error 1010: Unknown command type given to VF_AddToCommandQueue!\n";
  const std::string e1020 = "Vexel Forms DLL Error 1020: Bad filename passed to VF_AddToCommandQueue!\n";
  const std::string e1040 = "Vexel Forms DLL Error 1040: Bad Creator ID specified.\n";
  std::vector<Case> cases = {
      {0, "a.prc", kKtwd, e1010},  {10, "a.prc", kKtwd, e1010}, {-1, "a.prc", kKtwd, e1010},
      {5, nullptr, kKtwd, e1020},  {1, "", kKtwd, e1020},       {9, nullptr, kKtwd, e1020},
      {8, nullptr, 0, e1040 + e1020}, {7, "a.prc", 0, e1040},   {8, nullptr, kKtwd, e1020},
  };
  for (const Case& c : cases) {
    CaptureStderr capture;
    EXPECT_EQ(VF_AddToCommandQueueEx(c.type, c.file, c.creator, "t", 0, 0, 0), 0) << c.type;
    EXPECT_EQ(capture.text(), c.expected) << "type " << c.type;
  }
  int32_t type;
  EXPECT_EQ(VF_GetNextCommand(&type, nullptr, 0), 0) << "nothing was queued";
}

TEST_F(CommandQueue, TypeSixNeedsNoFileName) {
  ASSERT_EQ(VF_AddToCommandQueueEx(6, nullptr, 0, nullptr, 1, 2, 3), 1);
  int32_t type = 0;
  char file[16] = "xxxxxxxxxxxxxxx";
  ASSERT_EQ(VF_GetNextCommand(&type, file, sizeof file), 1);
  EXPECT_EQ(type, 6);
  EXPECT_STREQ(file, "");
}

TEST_F(CommandQueue, CutsFileNamesToTheCallersBufferAndTheField) {
  std::string long_name(300, 'n');
  ASSERT_EQ(VF_AddToCommandQueue(1, "abcdefghijkl.prc"), 1);
  ASSERT_EQ(VF_AddToCommandQueue(1, long_name.c_str()), 1);
  int32_t type;
  char small[8];
  std::memset(small, '#', sizeof small);
  ASSERT_EQ(VF_GetNextCommand(&type, small, sizeof small), 1);
  EXPECT_EQ(std::string(small), "abcdefg") << "cut to the buffer, still terminated";
  char big[400];
  ASSERT_EQ(VF_GetNextCommand(&type, big, sizeof big), 1);
  EXPECT_EQ(std::string(big), std::string(259, 'n')) << "the shared field holds 259 characters";
}

TEST_F(CommandQueue, HandsOutTheSecondText) {
  ASSERT_EQ(VF_AddToCommandQueueEx(3, "a", kKtwd, "Conduit.dll", 0, 0, 0), 1);
  ASSERT_EQ(VF_AddToCommandQueueEx(4, "b", kKtwd, nullptr, 0, 0, 0), 1);  // copied as empty
  ASSERT_EQ(VF_AddToCommandQueue(1, "c"), 1);
  ASSERT_EQ(VF_AddToCommandQueueEx(6, "d", kKtwd, nullptr, 0, 0, 0), 1);
  const char* second = nullptr;
  int32_t type;
  ASSERT_EQ(VF_GetNextCommandEx(&type, nullptr, 0, nullptr, &second, nullptr, nullptr, nullptr), 1);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second, "Conduit.dll");
  ASSERT_EQ(VF_GetNextCommandEx(&type, nullptr, 0, nullptr, &second, nullptr, nullptr, nullptr), 1);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second, "");
  uint32_t creator = 0;
  ASSERT_EQ(VF_GetNextCommandEx(&type, nullptr, 0, &creator, &second, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(creator, kKtwd) << "VF_AddToCommandQueue's creator is KTWD";
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second, "Qmrz_PalmDB.dll");
  ASSERT_EQ(VF_GetNextCommandEx(&type, nullptr, 0, nullptr, &second, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(second, nullptr) << "no text passed, none handed out";
}

TEST_F(CommandQueue, ConcurrentAddersAndATakerLoseNothing) {
  // Three processes add 3000 commands each into the 512 slots while this one takes.
  std::filesystem::path go = vxfmut_test::test_root() / "go-queue";
  std::vector<std::unique_ptr<vxfmut_test::Peer>> adders;
  for (const char* prefix : {"a", "b", "c"}) {
    adders.push_back(std::make_unique<vxfmut_test::Peer>(
        std::vector<std::string>{"barrier", go.string(), "add-n", "3000", prefix}));
  }
  vxfmut_test::write_file(go, "");
  std::map<char, int> next;  // per adder: the number expected next
  int taken = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (taken < 9000 && std::chrono::steady_clock::now() < deadline) {
    int32_t type = 0;
    char file[32];
    if (!VF_GetNextCommand(&type, file, sizeof file)) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_EQ(type, 1);
    char adder = file[0];
    ASSERT_EQ(std::string(file + 1), std::to_string(next[adder])) << "adder " << adder;
    ++next[adder];
    ++taken;
  }
  EXPECT_EQ(taken, 9000);
  for (auto& adder : adders) EXPECT_EQ(adder->wait(), 0) << adder->err();
}

TEST(SharedValues, TextsFollowCopyOutRules) {
  VF_SetUserName("Jo Clerk");
  EXPECT_EQ(VF_GetUserName(nullptr, 0), 8) << "no buffer: the length only";
  char buffer[5];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(VF_GetUserName(buffer, sizeof buffer), 8);
  EXPECT_EQ(std::string(buffer), "Jo C");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(VF_GetUserName(buffer, 0), 8);
  EXPECT_EQ(buffer[0], '#') << "length 0 writes nothing";

  std::string long_text(400, 'f');
  VF_SetCmdFilename(long_text.c_str());
  EXPECT_EQ(VF_GetCmdFilename(nullptr, 0), 259);
  VF_SetCmdFilename("short");
  char name[300];
  EXPECT_EQ(VF_GetCmdFilename(name, sizeof name), 5);
  EXPECT_STREQ(name, "short") << "setting clears the earlier text";
  VF_SetCmdFilename(nullptr);
  EXPECT_EQ(VF_GetCmdFilename(nullptr, 0), 0);

  RawBlock raw(vxfmut_test::shm_name());
  EXPECT_EQ(raw.text_at(RawBlock::kUserName), "Jo Clerk") << "user name at offset 2";
}

TEST(SharedValues, NumbersAreStoredAndReturned) {
  EXPECT_EQ(VF_SetCmdType(7), 7);
  EXPECT_EQ(VF_GetCmdType(), 7);
  EXPECT_EQ(VF_SetUserID(-5), -5);
  EXPECT_EQ(VF_GetUserID(), -5);
  EXPECT_EQ(VF_SetCreatorId(kKtwd), kKtwd);
  EXPECT_EQ(VF_GetCreatorId(), kKtwd);
  EXPECT_EQ(VF_SetHotSyncUserId(0), 0);
  EXPECT_EQ(VF_SetWaitFlag(3), 3);
  EXPECT_EQ(VF_IncWaitFlag(), 4);
  EXPECT_EQ(VF_DecWaitFlag(), 3);
  EXPECT_EQ(VF_DecWaitFlag(), 2);
  RawBlock raw(vxfmut_test::shm_name());
  EXPECT_EQ(raw.int_at(RawBlock::kWaitFlag), 2) << "wait flag at offset 532";
  EXPECT_EQ(raw.int_at(268), 7) << "command type at offset 268";
  VF_SetWaitFlag(0);
}

TEST(Random, FollowsTheLinearCongruentialRule) {
  EXPECT_EQ(VF_SeedRandom(1), 1u);
  EXPECT_EQ(VF_GenerateRandom(), 1103527590u);
  EXPECT_EQ(VF_GenerateRandom(), 1103527590u * 1103515245u + 12345u);
  VF_SeedRandom(0xFFFFFFFFu);
  EXPECT_EQ(VF_GenerateRandom(), 0xFFFFFFFFu * 1103515245u + 12345u) << "modulo 2^32";
}

TEST(Random, XorCopyIsUndoneByTheSameSeed) {
  const std::string plain = "HotSync user list \x01\x02\xff";
  std::vector<unsigned char> coded(plain.size()), back(plain.size());
  VF_SeedRandom(4242);
  EXPECT_EQ(VF_CopyRandomXOR(coded.data(), plain.data(), static_cast<int32_t>(plain.size())), coded.data());
  EXPECT_NE(std::memcmp(coded.data(), plain.data(), plain.size()), 0);
  // The first byte is the source XOR the low byte of the first draw.
  VF_SeedRandom(4242);
  EXPECT_EQ(coded[0], static_cast<unsigned char>(plain[0] ^ (VF_GenerateRandom() & 0xFF)));
  VF_SeedRandom(4242);
  VF_CopyRandomXOR(back.data(), coded.data(), static_cast<int32_t>(coded.size()));
  EXPECT_EQ(std::string(back.begin(), back.end()), plain);
  // In place, and nothing for a bad length.
  VF_SeedRandom(9);
  VF_CopyRandomXOR(coded.data(), coded.data(), 0);
  VF_CopyRandomXOR(coded.data(), coded.data(), -4);
  EXPECT_EQ(VF_GenerateRandom(), 9u * 1103515245u + 12345u) << "no value was drawn";
}

}  // namespace
