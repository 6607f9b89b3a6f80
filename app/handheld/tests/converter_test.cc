// The converter program and the converter run: command line, exit codes, time limit,
// cancel, and what the conversions leave in the files.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/handheld/converter_runner.h"
#include "app/handheld/pdb_convert.h"
#include "app/handheld/templates.h"
#include "app/handheld/tests/handheld_support.h"
#include "jet/dao.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;
using handheld::Run_And_Wait;

class ConverterTest : public HandheldShopTest {
 protected:
  void SetUp() override {
    HandheldShopTest::SetUp();
    handheld::Ensure_Templates(session());
  }
  // A shell script in the shop folder (its name has a blank).
  std::string script(const std::string& body) {
    std::string path = dir_ + "/conv script " + std::to_string(++scripts_) + ".sh";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }
  int tool(const std::string& args) {
    int status = std::system((std::string("'") + VFCONVERTPDB + "' " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string tmpl(const char* name) { return handheld::support_folder(session()) + name; }
  int scripts_ = 0;
};

TEST_F(ConverterTest, CommandLineIsExactAndThePathTravelsIntact) {
  EXPECT_EQ(handheld::converter_command_line("-PDBtoPC", "/a b/Palm Support Files/AddNew.MDB"),
            "VFConvertPDB.exe -PDBtoPC -filename \"/a b/Palm Support Files/AddNew.MDB\" -creatorid QTL7 "
            "-versionmajor 1 -versionminor 0 -quiet");
  std::string s = script("[ \"$1\" = \"-x\" ] && [ \"$3\" = \"/a b/c.MDB\" ] && [ $# = 4 ] && exit 42; exit 1");
  EXPECT_EQ(Run_And_Wait(session(), "\"" + s + "\" -x -filename \"/a b/c.MDB\" -quiet"), 42);
}

TEST_F(ConverterTest, ExitCodesOfTheRunAreReportedPlainly) {
  auto quoted = [](const std::string& path) { return "\"" + path + "\""; };
  EXPECT_EQ(Run_And_Wait(session(), quoted(script("exit 0"))), 0);
  EXPECT_EQ(Run_And_Wait(session(), quoted(script("exit 255"))), 255);
  EXPECT_EQ(Run_And_Wait(session(), quoted(script("kill -SEGV $$"))), 128 + SIGSEGV);
  EXPECT_EQ(Run_And_Wait(session(), "no-such-converter-anywhere.exe -PCtoPDB"), handheld::kRunNotStarted);

  EXPECT_EQ(handheld::exit_code_as_int16(session(), -32768), -32768);
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_EQ(handheld::exit_code_as_int16(session(), 3221225477LL), -1);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_NE(ui_.boxes[0].find("exit code 3221225477"), std::string::npos) << ui_.boxes[0];
}

TEST_F(ConverterTest, AConverterThatNeverEndsIsStoppedAtTheTimeLimitOrOnAbort) {
  ::setenv("TALLIMO_CONVERTER_SECONDS", "1", 1);
  std::string pid_file = dir_ + "/child.pid";
  std::string hang = script("sleep 60 & echo $! > '" + pid_file + "'; wait");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run_And_Wait(session(), "\"" + hang + "\""), handheld::kRunTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // The converter's own children are stopped with it.
  std::string pid;
  std::ifstream(pid_file) >> pid;
  ASSERT_FALSE(pid.empty());
  for (int i = 0; i < 100 && fs::exists("/proc/" + pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(fs::exists("/proc/" + pid)) << "the converter's child still runs";

  ::setenv("TALLIMO_CONVERTER_SECONDS", "60", 1);
  int polls = 0;
  ui_.on_events = [&] {
    if (++polls == 5) session().set_abort(true);
  };
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run_And_Wait(session(), "\"" + hang + "\""), handheld::kRunCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  session().set_abort(false);
}

TEST_F(ConverterTest, ConverterProgramConvertsBothWaysAndFindsFilesWithoutCase) {
  std::string folder = handheld::support_folder(session());
  handheld::write_pdb_file(folder + "eqtl70100_addto.pdb", handheld_table("ADDTO", {{"A1", 2}, {"Z 9", -1.25}}));
  std::string args = " -filename '" + tmpl("AddTo.MDB") + "' -creatorid QTL7 -versionmajor 1 -versionminor 0 -quiet";
  ASSERT_EQ(tool("-PDBtoPC" + args), 0);
  std::vector<ExportRow> rows = template_rows("AddTo.MDB");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].at("ITEMNUMBER"), "Z 9");
  EXPECT_EQ(rows[1].at("QTY"), "-1.25");
  ASSERT_EQ(tool("-PDBtoPC" + args), 0);
  EXPECT_EQ(template_rows("AddTo.MDB").size(), 2u) << "the file's rows replace the table's";

  ASSERT_EQ(tool("-PCtoPDB" + args), 0);
  EXPECT_TRUE(fs::exists(folder + "EQTL70100_ADDTO.PDB"));
  EXPECT_FALSE(fs::exists(folder + "eqtl70100_addto.pdb")) << "one file per table";
  handheld::PdbTable back = handheld::read_pdb_file(folder + "EQTL70100_ADDTO.PDB");
  EXPECT_EQ(back.name, "ADDTO");
  EXPECT_EQ(items(back), (std::vector<std::string>{"A1", "Z 9"}));
}

TEST_F(ConverterTest, ConverterProgramExitCodes) {
  std::string folder = handheld::support_folder(session());
  std::string args = " -filename '" + tmpl("Compare.MDB") + "' -creatorid QTL7 -versionmajor 1 -versionminor 0";
  EXPECT_EQ(tool("-PDBtoPC"), 2) << "required options missing";
  EXPECT_EQ(tool("-PDBtoPC -PCtoPDB" + args), 2);
  EXPECT_EQ(tool("-PCtoPDB -filename x -creatorid QTL -versionmajor 1 -versionminor 0"), 2);
  EXPECT_EQ(tool("-PCtoPDB -bogus" + args), 2);
  EXPECT_EQ(tool("-PDBtoPC" + args), 3) << "no handheld file";
  EXPECT_EQ(tool("-PCtoPDB -filename '" + folder + "Missing.MDB' -creatorid QTL7 -versionmajor 1 -versionminor 0"), 3);
  std::ofstream(folder + "EQTL70100_COMPARE.PDB") << std::string(100, 'x');
  EXPECT_EQ(tool("-PDBtoPC" + args), 4) << "malformed";
  handheld::PdbTable other = handheld_table("COMPARE", {{"A1", 1}});
  other.creator = "ABCD";
  handheld::write_pdb_file(folder + "EQTL70100_COMPARE.PDB", other);
  EXPECT_EQ(tool("-PDBtoPC" + args), 4) << "another application's table";
  EXPECT_TRUE(template_rows("Compare.MDB").empty()) << "a refused file changes nothing";
  // A value VFTable cannot hold: an item number longer than its 50 characters.
  handheld::write_pdb_file(folder + "EQTL70100_COMPARE.PDB", handheld_table("COMPARE", {{"OK", 1}, {std::string(80, 'L'), 1}}));
  EXPECT_EQ(tool("-PDBtoPC" + args), 5);
  EXPECT_TRUE(template_rows("Compare.MDB").empty()) << "all or nothing";
}

// An independent reader of the Palm database format (Palm::PDB, Debian libpalm-perl)
// reads what the converter writes: header, record list, application info block and
// every record's bytes.
TEST_F(ConverterTest, HandheldFilesWeWriteAreReadByPalmPdb) {
  auto db = jet::dao::Database::open(tmpl("ItemList.MDB"));
  db->execute("INSERT INTO VFTable (ITEMNUMBER, [DESC], QTY, PRICE, [Edit]) VALUES ('A1', 'Äpfel', 2.5, 1.25, True)");
  db->execute("INSERT INTO VFTable (ITEMNUMBER) VALUES ('B2')");
  db->close();
  ASSERT_EQ(handheld::VFConvertPDB(session(), "-PCtoPDB", tmpl("ItemList.MDB")), 0);
  std::string file = handheld::support_folder(session()) + "EQTL70100_ITEMLIST.PDB";
  std::string out = run(
      "perl -MPalm::PDB -MPalm::Raw -e '"
      "my $p = Palm::PDB->new; $p->Load($ARGV[0]);"
      "printf \"%s|%s|%s|%d|%d\\n\", $p->{name}, $p->{type}, $p->{creator}, $p->{version}, scalar @{$p->{records}};"
      "printf \"%s\\n\", substr($p->{appinfo}, 0, 4);"
      "for my $r (@{$p->{records}}) { printf \"%d %s\\n\", $r->{id}, unpack(\"H*\", $r->{data}); }' '" +
      file + "'");
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(out.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 3u) << out;
  EXPECT_EQ(lines[0], "ITEMLIST|DATA|QTL7|256|1") << "version 1.0 is 0x0100; both rows in one record";
  EXPECT_EQ(lines[1], "VFT1");
  // Record 1: two rows. ITEMNUMBER "A1", DESC "Äpfel" (UTF-8), QTY 2.5, COST null, LIST
  // null, PRICE 1.25, LOCATION null, VENDOR null, Edit yes; then "B2", nulls, Edit no.
  EXPECT_EQ(lines[2], "1 0002"
                      "0100024131" "010006c3847066656c" "024004000000000000" "00" "00" "023ff4000000000000" "00" "00" "0301"
                      "0100024232" "00" "00" "00" "00" "00" "00" "00" "0300");
}

TEST_F(ConverterTest, ProductListStatementIsTheDocumentedOne) {
  EXPECT_EQ(handheld::build_item_list_sql("/shop/Palm Support Files/ItemList.MDB"),
            "INSERT INTO VFTable ( ITEMNUMBER, [DESC], QTY, COST, LIST, PRICE, LOCATION, VENDOR )\r\n"
            "IN '/shop/Palm Support Files/ItemList.MDB'\r\n"
            "SELECT PRODUCT1.[Product Code], PRODUCT1.[Description One] & PRODUCT1.[Description Two], "
            "PRODUCT1.[Inventory Qty], PRODUCT1.[Current Cost], PRODUCT1.[List Price], PRODUCT1.[Standard Price], "
            "PRODUCT1.Location, PRODUCT1.[Vendor Code]\r\n"
            "FROM PRODUCT1\r\n");
}

TEST_F(ConverterTest, TemplatesAreCreatedWithTheDocumentedColumns) {
  std::string out = run("mdb-schema '" + tmpl("ItemList.MDB") + "'");
  for (const char* column : {"ITEMNUMBER", "DESC", "QTY", "COST", "LIST", "PRICE", "LOCATION", "VENDOR", "Edit"}) {
    EXPECT_NE(out.find(std::string("[") + column + "]"), std::string::npos) << column << "\n" << out;
  }
  EXPECT_EQ(run("mdb-schema '" + tmpl("AddTo.MDB") + "'").find("[Edit]"), std::string::npos);
  // An existing template is left alone.
  auto db = jet::dao::Database::open(tmpl("AddTo.MDB"));
  db->execute("INSERT INTO VFTable (ITEMNUMBER, QTY) VALUES ('K', 1)");
  db->close();
  handheld::Ensure_Templates(session());
  EXPECT_EQ(template_rows("AddTo.MDB").size(), 1u);
}

}  // namespace
}  // namespace tallimo::testing
