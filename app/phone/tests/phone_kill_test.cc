// tallimo-cli serve killed (SIGKILL) at random moments while a phone sends: the
// phone keeps every scan not acknowledged and sends it again to the restarted
// server, as the page does. In the end every scan is in Scanner_Data exactly once.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "app/phone/tests/phone_client.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

struct Served {
  ChildProcess child;
  int port = 0;
  std::string code;
};

// Starts the server and reads its address and pairing code from its first lines.
Served serve(const std::string& home) {
  Served s;
  s.child = start_child({TALLIMO_CLI, "serve", "--home", home, "--products", home + "/products.mdb", "--listen",
                         "loopback", "--port", "0", "--quiet"});
  char line[512];
  while ((s.port == 0 || s.code.empty()) && s.child.out != nullptr && std::fgets(line, sizeof line, s.child.out)) {
    if (std::strncmp(line, "listening http://127.0.0.1:", 27) == 0) s.port = std::atoi(line + 27);
    if (std::strncmp(line, "pairing code ", 13) == 0) s.code = std::string(line + 13, 6);
  }
  return s;
}

class PhoneKillTest : public ShopTest {};

TEST_F(PhoneKillTest, EveryAcknowledgedScanIsCountedOnceAcrossKills) {
  make_shop({product("A1", 1), product("B2", 1)}, {});
  const char* items[] = {"A1", "B2", "C3", "D4", "E5"};
  struct Scan {
    std::string item;
    int kind;
    double qty;
  };
  std::map<long, Scan> sent;  // every scan the phone made, by sequence number
  std::vector<long> waiting;  // made but not acknowledged, oldest first
  std::mt19937 random(20261207);
  long next = 1;
  long acknowledged = 0, resent = 0;
  phone::testing::PhoneClient client(0, "killtest-phone-1");

  for (int round = 0; round < 8; ++round) {
    Served s = serve(dir_);
    ASSERT_GT(s.port, 0);
    client.set_port(s.port);
    ASSERT_TRUE(client.pair(s.code));
    // The kill comes at a random moment while the phone sends.
    const auto kill_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(100 + random() % 400);
    std::thread killer([&] {
      std::this_thread::sleep_until(kill_at);
      ::kill(s.child.pid, SIGKILL);
    });
    for (;;) {
      long sequence;
      if (!waiting.empty()) {
        sequence = waiting.front();
        ++resent;
      } else {
        sequence = next++;
        sent[sequence] = Scan{items[random() % 5], static_cast<int>(random() % 2), 1.0 + random() % 3};
        waiting.push_back(sequence);
      }
      const Scan& scan = sent[sequence];
      const phone::testing::HttpAnswer a = client.scan(sequence, scan.item, scan.kind, scan.qty);
      if (a.status < 0) break;  // the server is gone: keep the scan
      ASSERT_EQ(a.status, 200) << a.body;
      waiting.erase(waiting.begin());
      ++acknowledged;
    }
    killer.join();
    EXPECT_EQ(finish_child(s.child), -SIGKILL);
  }
  // A last, quiet run takes what is still waiting.
  Served s = serve(dir_);
  client.set_port(s.port);
  ASSERT_TRUE(client.pair(s.code));
  for (long sequence : waiting) {
    const Scan& scan = sent[sequence];
    ASSERT_EQ(client.scan(sequence, scan.item, scan.kind, scan.qty).status, 200);
  }
  client.disconnect();
  ::kill(s.child.pid, SIGTERM);
  EXPECT_EQ(finish_child(s.child), 0);

  std::map<std::string, double> expected;
  for (const auto& [sequence, scan] : sent) expected[std::to_string(scan.kind) + " " + scan.item] += scan.qty;
  std::map<std::string, double> found;
  for (const ExportRow& row : scanner_data()) {
    const std::string key = row.at("File_Type") + " " + row.at("Item_Number");
    EXPECT_EQ(found.count(key), 0u) << "two rows for " << key;
    found[key] = std::stod(row.at("Qty"));
  }
  EXPECT_EQ(found, expected);
  EXPECT_GT(sent.size(), 40u) << "the phone sent too little to test anything";
  std::printf("%zu scans, %ld acknowledged before a kill or at the end, %ld sent again\n", sent.size(), acknowledged,
              resent);
  // The file is sound after the kills (jetsql --check would say the same).
  EXPECT_EQ(mdb_export(scanner_path(), "Phone_Scans").size(), sent.size());
}

}  // namespace
}  // namespace tallimo::testing
