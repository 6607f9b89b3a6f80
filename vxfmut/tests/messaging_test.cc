// Conduit messaging across processes: the wait dialog in this process (offscreen), the
// conduit in a vxfmut_peer child that takes the commands and posts to the target.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "vxfmut/msg_channel.h"
#include "vxfmut/vxfmut.h"

namespace {

using vxfmut_test::Peer;
using vxfmut_test::RawBlock;

void drain() {
  int32_t type;
  while (VF_GetNextCommand(&type, nullptr, 0)) {
  }
}

void queue_three() {
  drain();
  ASSERT_EQ(VF_AddToCommandQueue(1, "Inventory.pdb"), 1);
  ASSERT_EQ(VF_AddToCommandQueueEx(3, "Products.pdb", 0x4B545744u, "Conduit.dll", 1, 2, 3), 1);
  ASSERT_EQ(VF_AddToCommandQueueEx(8, "Tallimo.prc", 0x54414C4Cu, "App.prc", 0, 0, 0), 1);
}

std::vector<std::string> conduit(std::vector<std::string> results) {
  std::vector<std::string> steps = {"wait-target", "take", "3"};
  for (const std::string& r : results) {
    steps.insert(steps.end(), {"post", "3", r});
  }
  steps.insert(steps.end(), {"post", "2", "0"});
  return steps;
}

TEST(WaitDialog, CompletesWithZeroWhenEveryResultSucceeded) {
  queue_three();
  Peer peer(conduit({"1", "1", "1"}));
  EXPECT_EQ(VF_FlushCommandQueueEx("Sending Tallimo", 0), 0);
  EXPECT_EQ(peer.wait(), 0) << peer.err();
  EXPECT_EQ(peer.out(),
            "cmd type=1 file=Inventory.pdb creator=4b545744 second=Qmrz_PalmDB.dll values=0,0,0\n"
            "cmd type=3 file=Products.pdb creator=4b545744 second=Conduit.dll values=1,2,3\n"
            "cmd type=8 file=Tallimo.prc creator=54414c4c second=App.prc values=0,0,0\n");
  EXPECT_TRUE(vxfmut::find_msg_targets().empty()) << "the dialog's target is gone with it";
}

TEST(WaitDialog, OneFailedResultYieldsOneWhateverFollows) {
  queue_three();
  Peer peer(conduit({"0", "1", "1", "1", "1"}));
  EXPECT_EQ(VF_FlushCommandQueue(nullptr), 1);
  EXPECT_EQ(peer.wait(), 0) << peer.err();
}

TEST(WaitDialog, IgnoresMessagesUnderAnotherCreator) {
  queue_three();
  VF_SetCreatorId(0);
  Peer peer({"wait-target", "take", "3", "creator", "WXYZ", "post", "3", "0", "post", "2", "0",
             "sleep", "600", "creator", "TALL", "post", "3", "1", "post", "2", "0"});
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(VF_FlushCommandQueueEx("Filtered", 0x54414C4Cu), 0)
      << "the failure and the completion under WXYZ were ignored";
  EXPECT_GE(timer.elapsed(), 500) << "the dialog stayed open past the ignored completion";
  EXPECT_EQ(peer.wait(), 0) << peer.err();
}

TEST(WaitDialog, WithoutFilterAnyCreatorCounts) {
  queue_three();
  Peer peer({"wait-target", "creator", "WXYZ", "post", "3", "0", "post", "2", "0"});
  EXPECT_EQ(VF_FlushCommandQueueEx("Unfiltered", 0), 1);
  EXPECT_EQ(peer.wait(), 0) << peer.err();
  drain();
}

TEST(WaitDialog, TwoClientProcessesWithoutTheirOwnApplication) {
  // The waiting side is a plain client: the library makes its application object, and
  // the process must still end cleanly.
  drain();
  Peer waiter({"add", "1", "a.prc", "add", "4", "b.pdb", "flush", "Cap", "0"});
  Peer conduit({"wait-target", "take", "2", "post", "3", "1", "post", "3", "0", "post", "2", "0"});
  EXPECT_EQ(conduit.wait(), 0) << conduit.err();
  EXPECT_EQ(waiter.wait(), 0) << waiter.err();
  EXPECT_EQ(waiter.out(), "add=1\nadd=1\nflush=1\n");
  EXPECT_EQ(conduit.out(),
            "cmd type=1 file=a.prc creator=4b545744 second=Qmrz_PalmDB.dll values=0,0,0\n"
            "cmd type=4 file=b.pdb creator=4b545744 second=Qmrz_PalmDB.dll values=0,0,0\n");
}

TEST(WaitDialog, AbortEmptiesTheQueueAndGivesTwo) {
  queue_three();
  QString title;
  QStringList texts;
  QTimer::singleShot(100, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) texts << label->text();
    }
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
      if (button->text() == QStringLiteral("&Abort")) button->click();
    }
  });
  EXPECT_EQ(VF_FlushCommandQueue(nullptr), 2);
  EXPECT_EQ(title, QStringLiteral("HotSync with Handheld"));
  EXPECT_EQ(texts, QStringList({QStringLiteral("Ready to synchronize with Handheld."),
                                QStringLiteral("Press the HotSync button on the cradle to begin.")}));
  RawBlock raw(vxfmut_test::shm_name());
  EXPECT_EQ(raw.int_at(RawBlock::kReadIndex), -1);
  EXPECT_EQ(raw.int_at(RawBlock::kWriteIndex), 0);
  int32_t type;
  EXPECT_EQ(VF_GetNextCommand(&type, nullptr, 0), 0);
}

TEST(WaitDialog, AbortInAnotherProcessEmptiesTheSharedQueue) {
  drain();
  Peer peer({"add", "1", "a.prc", "add", "2", "b.prc", "flush-abort", "150", "take-all"});
  EXPECT_EQ(peer.wait(), 0) << peer.err();
  EXPECT_EQ(peer.out(), "add=1\nadd=1\nflush=2\ntaken=0\n");
}

// A host without a display (a scheduler, a remote shell) waits for the conduit like the
// dialog does, and gives up only at the time limit.
TEST(WaitDialog, WithoutDisplayWaitsForTheConduit) {
  drain();
  // No display at all, and an X11 platform asked for without a server address.
  for (const char* platform : {"", "xcb"}) {
    SCOPED_TRACE(platform);
    std::map<std::string, std::string> headless = {
        {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", platform}};
    Peer waiter({"add", "1", "a.prc", "add", "2", "b.prc", "flush", "Sync", "0", "add", "0", "x"}, headless);
    Peer conduit({"wait-target", "sleep", "300", "take", "2", "post", "3", "1", "post", "2", "0"}, headless);
    EXPECT_EQ(conduit.wait(), 0) << conduit.err();
    EXPECT_EQ(waiter.wait(), 0) << waiter.err();
    EXPECT_EQ(waiter.out(), "add=1\nadd=1\nflush=0\nadd=0\n");
    EXPECT_NE(conduit.out().find("file=b.prc"), std::string::npos) << conduit.out();
    EXPECT_NE(waiter.err().find("Sync: Ready to synchronize with Handheld."), std::string::npos)
        << waiter.err();
    EXPECT_NE(waiter.err().find("Vexel Forms DLL Error 1010"), std::string::npos)
        << "message boxes go to stderr: " << waiter.err();
  }
}

TEST(WaitDialog, WithoutDisplayTheTimeLimitEndsTheWaitAsAnAbort) {
  drain();
  Peer waiter({"add", "1", "a.prc", "flush", "Sync", "0", "take-all"},
              {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"VXFMUT_WAIT_SECONDS", "1"}});
  EXPECT_EQ(waiter.wait(std::chrono::seconds(10)), 0) << waiter.err();
  EXPECT_EQ(waiter.out(), "add=1\nflush=2\ntaken=0\n") << "the queue was emptied";
  EXPECT_NE(waiter.err().find("No HotSync within 1 s"), std::string::npos) << waiter.err();
}

struct Received {
  std::vector<std::vector<long long>> messages;
};

void record(void* context, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  static_cast<Received*>(context)->messages.push_back(
      {static_cast<long long>(message), static_cast<long long>(wparam), static_cast<long long>(lparam)});
}

TEST(MessageTarget, ForwardsOnlyTheRegisteredMessageToItsOwner) {
  Received received;
  VfMsgOwner owner{&record, &received};
  Message_Target* target = VF_CreateMsgTarget(&owner);
  ASSERT_NE(target, nullptr);
  ASSERT_EQ(vxfmut::find_msg_targets().size(), 1u);
  EXPECT_EQ(vxfmut::find_msg_targets()[0].rfind("VexForms Msg Target.", 0), 0u);

  Peer peer({"post-raw", "0x1234", "2", "0", "post", "3", "-7", "post", "2", "5"});
  ASSERT_EQ(peer.wait(), 0) << peer.err();
  QElapsedTimer timer;
  timer.start();
  while (received.messages.size() < 2 && timer.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  long long id = VF_GetRegisteredMsg();
  ASSERT_EQ(received.messages.size(), 2u);
  EXPECT_EQ(received.messages[0], (std::vector<long long>{id, 3, -7}));
  EXPECT_EQ(received.messages[1], (std::vector<long long>{id, 2, 5}));

  owner.post = nullptr;  // read at each forward: now dropped
  ASSERT_TRUE(vxfmut::post_msg_to_newest_target(VF_GetRegisteredMsg(), 3, 1));
  QApplication::processEvents(QEventLoop::AllEvents, 100);
  EXPECT_EQ(received.messages.size(), 2u);

  VF_DeleteMsgTarget(target);
  VF_DeleteMsgTarget(nullptr);
  EXPECT_TRUE(vxfmut::find_msg_targets().empty());
  EXPECT_FALSE(vxfmut::post_msg_to_newest_target(VF_GetRegisteredMsg(), 2, 0));
}

// Targets have no file: a long runtime folder cannot make them impossible, and a
// closed one disappears with its socket.
TEST(MessageTarget, TargetsNeedNoFolderAndGoWithTheirSocket) {
  std::string long_folder = (vxfmut_test::test_root() / std::string(120, 'r')).string();
  Peer holder({"ready", "hold-target"}, {{"XDG_RUNTIME_DIR", long_folder}, {"VXFMUT_RUNTIME_DIR", long_folder}});
  ASSERT_TRUE(holder.wait_for_line("ready")) << holder.err();
  ASSERT_TRUE(holder.wait_for_line("target")) << holder.err();
  ASSERT_EQ(vxfmut::find_msg_targets().size(), 1u) << "found from a process with another runtime folder";
  ASSERT_TRUE(vxfmut::post_msg_to_newest_target(VF_GetRegisteredMsg(), 3, 1));
  ASSERT_TRUE(holder.wait_for_line("got 3 1")) << holder.err();
  holder.kill_hard();
  EXPECT_TRUE(vxfmut::find_msg_targets().empty()) << "a killed process leaves no target behind";
  EXPECT_FALSE(vxfmut::post_msg_to_newest_target(VF_GetRegisteredMsg(), 2, 0));
  EXPECT_FALSE(vxfmut::post_msg(vxfmut::target_prefix() + "9999999999999999999.1.0", VF_GetRegisteredMsg(), 2, 0));
}

TEST(RegisteredMessage, EveryProcessAgreesOnOneIdentifier) {
  uint16_t id = VF_GetRegisteredMsg();
  EXPECT_GE(id, 0xC000);
  std::string expected = "msg=" + std::to_string(id) + " ";
  for (int i = 0; i < 2; ++i) {
    std::string out = vxfmut_test::run_peer({"state"});
    EXPECT_NE(out.find(expected), std::string::npos) << out;
  }
  RawBlock raw(vxfmut_test::shm_name());
  EXPECT_EQ(raw.int_at(0) & 0xFFFF, id) << "stored at offset 0 of the block";
}

TEST(WaitFlag, ConcurrentIncrementsAndDecrementsAddUp) {
  VF_SetWaitFlag(10);
  std::filesystem::path go = vxfmut_test::test_root() / "go";
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 4; ++i) {
    peers.push_back(std::make_unique<Peer>(std::vector<std::string>{
        "barrier", go.string(), "inc", "300000", "dec", "200000", "inc", "50000"}));
  }
  VF_IncWaitFlag();
  vxfmut_test::write_file(go, "");
  for (int i = 0; i < 20000; ++i) {
    VF_DecWaitFlag();
    VF_IncWaitFlag();
  }
  for (auto& peer : peers) EXPECT_EQ(peer->wait(), 0) << peer->err();
  EXPECT_EQ(VF_GetWaitFlag(), 11 + 4 * 150000);
  VF_SetWaitFlag(0);
}

}  // namespace
