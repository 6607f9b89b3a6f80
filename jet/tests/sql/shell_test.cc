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

TEST(JetsqlShell, CsvTellsNullFromEmptyTextAndShowsNegativeZeroAsZero) {
  const std::string query =
      "Select [Description Two], '' AS E, -0.0 AS Z, 0 * -1.5 AS Z2 From PRODUCT1 Where [Product Code] = '000037';";
  ShellRun r = jetsql(kProducts + " --csv", query);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Description Two,E,Z,Z2\n,\"\",0,0\n");
  ShellRun marked = jetsql(kProducts + " --csv --null NULL", query);
  EXPECT_EQ(marked.out, "Description Two,E,Z,Z2\nNULL,\"\",0,0\n");
  ShellRun aligned = jetsql(kProducts + " --null -", query);
  EXPECT_NE(aligned.out.find("- "), std::string::npos) << aligned.out;
  EXPECT_EQ(aligned.out.find("<Null>"), std::string::npos) << aligned.out;
}

TEST(JetsqlShell, StatementsBetweenBeginAndCommitAreOneUnit) {
  sqltest::ScratchDir dir;
  std::string file = dir.path("tx.mdb").string();
  std::string script = "CREATE TABLE T (A Long NOT NULL, B Text(10));\nBEGIN TRANSACTION;\n";
  for (int i = 0; i < 2000; ++i) script += "INSERT INTO T (A, B) VALUES (" + std::to_string(i) + ", 'x');\n";
  script += "COMMIT;\nSELECT COUNT(*) AS N, SUM(A) AS S FROM T;\n";
  ShellRun r = jetsql("--create " + file + " --csv", script);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "N,S\n2000,1999000\n");
  // A failure inside a transaction rolls the whole of it back.
  ShellRun failed = jetsql(file + " --csv", "BEGIN TRANSACTION;\nINSERT INTO T (A) VALUES (1);\n"
                                            "INSERT INTO T (B) VALUES ('no A');\nCOMMIT;");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("statement 3"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("rolled back"), std::string::npos) << failed.err;
  // So does input that ends before COMMIT.
  ShellRun open = jetsql(file + " --csv", "BEGIN TRANSACTION;\nINSERT INTO T (A) VALUES (1);");
  EXPECT_EQ(open.status, 1);
  EXPECT_NE(open.err.find("without COMMIT"), std::string::npos) << open.err;
  ShellRun after = jetsql(file + " --csv", "SELECT COUNT(*) AS N FROM T;");
  EXPECT_EQ(after.out, "N\n2000\n");
  // The NOT NULL column shows in the schema listing.
  ShellRun schema = jetsql(file + " --schema T", "");
  EXPECT_NE(schema.out.find("[A] Long Integer NOT NULL"), std::string::npos) << schema.out;
  EXPECT_EQ(schema.out.find("[B] Text (10) NOT NULL"), std::string::npos) << schema.out;
}

}  // namespace
