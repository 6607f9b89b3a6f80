// The shared block's lifetime across processes that come, go and get killed. Each test
// uses a block name of its own that this test process never attaches to, so only the
// children decide the block's life.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "test_support.h"

namespace {

using vxfmut_test::Peer;

class BlockLifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    name_ = "/vxfmut-life-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    env_ = {{"VXFMUT_SHM_NAME", name_}};
  }
  void TearDown() override {
    for (const char* suffix : {"", ".lock", ".users", ".messages"}) ::shm_unlink((name_ + suffix).c_str());
  }

  bool block_exists() const { return std::filesystem::exists("/dev/shm" + name_); }

  std::string name_;
  std::map<std::string, std::string> env_;
};

TEST_F(BlockLifetime, LivesWhileAnyProcessHasItAndGoesWithTheLast) {
  std::filesystem::path go = vxfmut_test::test_root() / ("go" + name_.substr(1));
  Peer holder({"set-user", "kept", "inc", "2", "ready", "barrier", go.string()}, env_);
  ASSERT_TRUE(holder.wait_for_line("ready")) << holder.err();
  EXPECT_EQ(vxfmut_test::run_peer({"state", "add", "1", "a.prc"}, env_).substr(0, 22),
            "wait=2 user=kept msg=4");
  EXPECT_NE(vxfmut_test::run_peer({"state", "take-all"}, env_).find("user=kept"), std::string::npos)
      << "a second visitor still sees the holder's block";
  EXPECT_TRUE(block_exists());
  vxfmut_test::write_file(go, "");
  EXPECT_EQ(holder.wait(), 0) << holder.err();
  EXPECT_FALSE(block_exists()) << "the last process to leave removes the block";
  std::string fresh = vxfmut_test::run_peer({"state", "take-all"}, env_);
  EXPECT_EQ(fresh.substr(0, 13), "wait=0 user= ") << fresh;
  EXPECT_NE(fresh.find("taken=0"), std::string::npos) << fresh;
}

TEST_F(BlockLifetime, KilledProcessLeavesNoStaleBlock) {
  Peer victim({"set-user", "stale", "inc", "5", "add", "1", "a.prc", "add", "2", "b.prc", "ready", "hold"},
              env_);
  ASSERT_TRUE(victim.wait_for_line("ready")) << victim.err();
  victim.kill_hard();
  EXPECT_TRUE(block_exists()) << "SIGKILL leaves the object behind";
  Peer next({"state", "take-all", "set-user", "next", "ready", "hold"}, env_);
  ASSERT_TRUE(next.wait_for_line("ready")) << next.err();
  std::string out = next.out();
  EXPECT_EQ(out.substr(0, 13), "wait=0 user= ") << out;
  EXPECT_NE(out.find("taken=0"), std::string::npos) << "no commands of the dead process: " << out;
  // And the new block is really shared, not a private fallback.
  std::string visitor = vxfmut_test::run_peer({"state"}, env_);
  EXPECT_EQ(visitor.substr(0, 17), "wait=0 user=next ") << visitor;
  EXPECT_EQ(next.err(), "");
}

TEST_F(BlockLifetime, KillsDuringUseNeverLeaveItHalfInitialised) {
  // What a creator killed half-way leaves behind: an object of the wrong size, or of the
  // right size without the completion mark, full of junk.
  for (std::size_t size : {std::size_t{1000}, std::size_t{279080 + 64}}) {
    SCOPED_TRACE(size);
    int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(address, MAP_FAILED);
    std::memset(address, 0xAB, size);
    ::munmap(address, size);
    ::close(fd);

    Peer first({"set-user", "fresh", "ready", "hold"}, env_);
    ASSERT_TRUE(first.wait_for_line("ready")) << first.err();
    std::string out = vxfmut_test::run_peer({"state", "take-all"}, env_);
    EXPECT_EQ(out.substr(0, 18), "wait=0 user=fresh ") << out;
    EXPECT_NE(out.find("taken=0"), std::string::npos) << out;
    EXPECT_EQ(first.err(), "");
    first.kill_hard();
  }
}

TEST_F(BlockLifetime, ManyShortLivedProcessesKeepOneBlock) {
  // Processes attach and detach while others are killed around them; the holder's
  // values must survive all of it.
  Peer holder({"set-user", "anchor", "ready", "hold"}, env_);
  ASSERT_TRUE(holder.wait_for_line("ready"));
  for (int round = 0; round < 6; ++round) {
    Peer victim({"inc", "1", "ready", "hold"}, env_);
    ASSERT_TRUE(victim.wait_for_line("ready"));
    victim.kill_hard();
    vxfmut_test::run_peer({"dec", "1"}, env_);
  }
  std::string out = vxfmut_test::run_peer({"state"}, env_);
  EXPECT_EQ(out.substr(0, 19), "wait=0 user=anchor ") << out;
}

TEST_F(BlockLifetime, UnusableBlockNameGivesErrorAndAPrivateBlock) {
  env_["VXFMUT_SHM_NAME"] = "/vxfmut/not-a-valid-name";
  Peer peer({"add", "1", "a.prc", "take-all", "state"}, env_);
  EXPECT_EQ(peer.wait(), 0);
  EXPECT_EQ(peer.out(), "add=1\ntaken=1\nwait=0 user= msg=0 creator=00000000\n");
  EXPECT_NE(peer.err().find("Vexel Forms DLL Error 1030: Couldn't register message to communicate "
                            "with conduit!"),
            std::string::npos)
      << peer.err();
  EXPECT_NE(peer.err().find("private command block"), std::string::npos) << peer.err();
}

// A process started by a scheduler or a remote shell has another XDG_RUNTIME_DIR (or
// none) than the desktop session's processes; it must join their block, not wipe it.
TEST_F(BlockLifetime, ProcessesWithDifferentRuntimeFoldersShareOneBlock) {
  std::map<std::string, std::string> session = env_, remote = env_;
  session["XDG_RUNTIME_DIR"] = (vxfmut_test::test_root() / "session").string();
  session["VXFMUT_RUNTIME_DIR"] = "";
  remote["XDG_RUNTIME_DIR"] = "";
  remote["VXFMUT_RUNTIME_DIR"] = "";
  std::filesystem::create_directories(session["XDG_RUNTIME_DIR"]);
  Peer holder({"set-user", "desk", "add", "1", "a.prc", "ready", "hold"}, session);
  ASSERT_TRUE(holder.wait_for_line("ready")) << holder.err();
  std::string seen = vxfmut_test::run_peer({"state", "set-user", "remote"}, remote);
  EXPECT_EQ(seen.substr(0, 19), "wait=0 user=desk ms") << seen;
  std::string after = vxfmut_test::run_peer({"state", "take-all"}, session);
  EXPECT_EQ(after.substr(0, 21), "wait=0 user=remote ms") << after;
  EXPECT_NE(after.find("taken=1"), std::string::npos) << "the desk's command survived: " << after;
  holder.kill_hard();
}

// A child forked after the library was loaded that ends with exit() runs the library's
// unload; it must not take the block or the lock away from its parent.
TEST_F(BlockLifetime, ForkedChildThatExitsLeavesTheParentsBlockAlone) {
  Peer parent({"set-user", "parent", "fork-exit", "ready", "hold"}, env_);
  ASSERT_TRUE(parent.wait_for_line("ready")) << parent.err();
  EXPECT_EQ(parent.out(), "child=0\nready\n");
  EXPECT_TRUE(block_exists()) << "the child's exit removed the parent's block";
  std::string seen = vxfmut_test::run_peer({"state"}, env_);
  EXPECT_EQ(seen.substr(0, 19), "wait=0 user=parent ") << seen;
  Peer other({"state"}, env_);
  EXPECT_EQ(other.wait(), 0);
  EXPECT_EQ(other.err().find("private command block"), std::string::npos) << other.err();
  parent.kill_hard();
  std::string fresh = vxfmut_test::run_peer({"state"}, env_);
  EXPECT_EQ(fresh.substr(0, 13), "wait=0 user= ") << "nobody attached any more: a fresh block";
}

}  // namespace
