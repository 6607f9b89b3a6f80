// tallimo-cli history and undo as a shop's script sees them: what they print,
// what they ask, and their exit codes (0 done, 1 failure, 2 usage, 4 cancelled).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

struct Result {
  int code = -1;
  std::string out;
};

// Runs tallimo-cli with `args` and standard input from /dev/null (no terminal).
Result cli(const std::string& args) {
  Result r;
  FILE* p = ::popen((std::string(TALLIMO_CLI) + " " + args + " < /dev/null 2>&1").c_str(), "r");
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class HistoryCliTest : public ShopTest {
 protected:
  std::string shop() const { return "--home '" + dir_ + "' --products '" + products_path() + "'"; }
};

TEST_F(HistoryCliTest, HistoryListsAndShowsRunsAndUndoAsksBeforeItChangesAnything) {
  EXPECT_EQ(cli("history --home '" + dir_ + "'").code, 0);  // nothing posted yet: an empty history
  make_shop({product("A", 10), product("B", 2, "Old")}, {scan(kAddToInventory, "A", 5), scan(kReplaceInventory, "B", 7)});
  ASSERT_EQ(cli("post --quiet " + shop()).code, 0);

  const Result list = cli("history --home '" + dir_ + "'");
  EXPECT_EQ(list.code, 0);
  EXPECT_NE(list.out.find("Post"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("posted"), std::string::npos) << list.out;
  const Result one = cli("history 1 --home '" + dir_ + "'");
  EXPECT_EQ(one.code, 0);
  EXPECT_NE(one.out.find("Inventory Qty    10 -> 15 (+5)"), std::string::npos) << one.out;
  EXPECT_NE(one.out.find("Replace"), std::string::npos) << one.out;
  EXPECT_EQ(cli("history 7 --home '" + dir_ + "'").code, 1);

  // Usage errors.
  EXPECT_EQ(cli("undo " + shop()).code, 2);
  EXPECT_EQ(cli("undo x " + shop()).code, 2);
  EXPECT_EQ(cli("undo 1 --kinds 0 " + shop()).code, 2);

  // Without --yes and without a terminal the question is answered Cancel.
  const Result asked = cli("undo 1 " + shop());
  EXPECT_EQ(asked.code, 4) << asked.out;
  EXPECT_NE(asked.out.find("Undo run 1? 2 records returned to Scanner_Data"), std::string::npos) << asked.out;
  EXPECT_EQ(stock("A"), "15");
  EXPECT_TRUE(scanner_data().empty());

  const Result done = cli("undo 1 --yes " + shop());
  EXPECT_EQ(done.code, 0) << done.out;
  EXPECT_EQ(stock("A"), "10");
  EXPECT_EQ(stock("B"), "2");
  EXPECT_EQ(scanner_data().size(), 2u);

  const Result again = cli("undo 1 --yes " + shop());
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.out.find("undone already"), std::string::npos) << again.out;
  EXPECT_EQ(cli("undo 9 --yes " + shop()).code, 1);
  EXPECT_NE(cli("history --home '" + dir_ + "'").out.find("undone by run 2"), std::string::npos);
}

}  // namespace
}  // namespace tallimo::testing
