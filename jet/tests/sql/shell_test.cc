// The jetsql shell: statements from the command line or stdin, aligned and
// CSV output, and a failing statement named with a non-zero exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/wait.h>

#include "sql_test_util.h"

namespace {

struct ShellRun {
  int status = -1;
  std::string out, err;
};

ShellRun jetsql(const std::string& args, const std::string& input) {
  sqltest::ScratchDir dir;
  std::string in = dir.path("in.sql").string(), err = dir.path("err.txt").string();
  std::ofstream(in, std::ios::binary) << input;
  std::string cmd = std::string(JETSQL_BINARY) + " " + args + " < " + in + " 2> " + err;
  ShellRun r;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream e(err, std::ios::binary);
  r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
  return r;
}

const std::string kProducts = sqltest::fixture("products_small.mdb") + " --password " + sqltest::kProductsPassword;

TEST(JetsqlShell, RunsStatementsSpanningLinesFromStdin) {
  ShellRun r = jetsql(kProducts + " --csv",
                 "Select [Product Code], [Vendor Code]\r\nFrom PRODUCT1\r\n  Where [Product Code] = \"000037\";\n"
                 "select [Product Code] from product1 where [Product Code] in ('000074', 'b00000')\n"
                 "order by [Product Code];");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Product Code,Vendor Code\n\"000037\",\"BOLT & NUT\"\nProduct Code\n\"000074\"\n\"b00000\"\n");
}

TEST(JetsqlShell, AlignsColumnsAndShowsNull) {
  ShellRun r = jetsql(kProducts + " \"Select [Product Code] AS Code, [Description Two] From PRODUCT1 Where "
                             "[Product Code] = '000037'\"",
                 "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Code   | Description Two\n"
            "-------+----------------\n"
            "000037 | <Null>\n"
            "(1 row)\n");
}

TEST(JetsqlShell, StopsAtTheFirstFailingStatementAndNamesIt) {
  ShellRun r = jetsql(kProducts + " --csv",
                 "Select [Product Code] From PRODUCT1 Where [Product Code] = '000037';\n"
                 "Select * From PRODUCT1 Wher x = 1;\nSelect 1 From PRODUCT1;");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Product Code\n\"000037\"\n");  // the third never ran
  EXPECT_NE(r.err.find("statement 2"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("syntax"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Select * From PRODUCT1 Wher x = 1"), std::string::npos) << r.err;

  ShellRun missing = jetsql("/nonexistent/products.mdb", "Select 1 From t;");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/nonexistent/products.mdb"), std::string::npos) << missing.err;
  ShellRun listing = jetsql(kProducts + " --tables", "");  // the listing actions still work
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(listing.out, "PRODUCT1\n");
}

TEST(JetsqlShell, CreatesADatabaseAndRunsStatementsOnIt) {
  sqltest::ScratchDir dir;
  std::string file = dir.path("new.mdb").string();
  ShellRun r = jetsql("--create " + file + " --password s3cret --csv",
                      "CREATE TABLE [Compare] ([Scanner_Qty] currency, [Item_Number] text (255));\n"
                      "INSERT INTO Compare (Scanner_Qty, Item_Number) VALUES (2.5, 'A''1');\n"
                      "Select * From Compare;");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Scanner_Qty,Item_Number\n2.5000,\"A'1\"\n");
  ShellRun again = jetsql(file + " --password s3cret --csv", "Select Item_Number From Compare;");
  EXPECT_EQ(again.out, "Item_Number\n\"A'1\"\n");
  ShellRun no_password = jetsql(file, "Select Item_Number From Compare;");
  EXPECT_EQ(no_password.status, 1);
  ShellRun exists = jetsql("--create " + file, "");
  EXPECT_EQ(exists.status, 1);
  EXPECT_NE(exists.err.find("already exists"), std::string::npos) << exists.err;
}

}  // namespace
