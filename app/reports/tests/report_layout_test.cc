// Layout files: the defaults parse, every error names file, line and problem;
// number formats.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "jet/error.h"
#include "app/reports/report_layout.h"

namespace tallimo::reports {
namespace {

std::string error_of(const std::string& text) {
  try {
    parse_layout(text, "/shop/Comparison.rpt");
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kSyntax);
    return e.what();
  }
  return "(accepted)";
}

TEST(ReportLayoutTest, DefaultLayoutsReadTheirTablesWithTheVarianceFigures) {
  Layout c = parse_layout(default_layout_text(ReportKind::kComparison), "Comparison.rpt");
  EXPECT_EQ(c.table, "Comparison");
  EXPECT_TRUE(c.landscape);
  ASSERT_TRUE(c.summary_field.has_value());
  EXPECT_EQ(*c.summary_field, Field::kVarianceValue);
  bool shrinkage = false, overage = false;
  for (const Total& t : c.totals) {
    shrinkage |= t.field == Field::kVarianceValue && t.kind == TotalKind::kNegative;
    overage |= t.field == Field::kVarianceValue && t.kind == TotalKind::kPositive;
  }
  EXPECT_TRUE(shrinkage && overage);
  EXPECT_EQ(parse_layout(default_layout_text(ReportKind::kNotInInventory), "x").table, "Not_In_Inventory");
  Layout n = parse_layout(default_layout_text(ReportKind::kNotScanned), "x");
  EXPECT_EQ(n.table, "Not_Scanned");
  EXPECT_EQ(n.columns.back().field, Field::kStockValue);
  EXPECT_EQ(n.columns.back().align, Align::kRight);
  EXPECT_EQ(n.footer.right, "Page {page} of {pages}");
}

TEST(ReportLayoutTest, ErrorsNameTheFileTheLineAndTheProblem) {
  const std::string head = "title \"T\"\ntable Comparison\n";
  EXPECT_EQ(error_of(head + "column Item_Numbr \"Item\" 30\n"),
            "/shop/Comparison.rpt, line 3: unknown field \"Item_Numbr\" (fields: ID, Scanner_Qty, Orvex_Qty, "
            "Item_Number, Description, Vendor_Code, Standard_Price, Current_Cost, Location, List_Price, Variance, "
            "Variance_Value, Stock_Value, Counted_Value)");
  EXPECT_EQ(error_of(head + "# a note\n\ncolumn Description \"Desc 30\n"),
            "/shop/Comparison.rpt, line 5: a quoted text is not closed (a \" is missing)");
  EXPECT_EQ(error_of(head + "column Description \"Desc\" wide\n"),
            "/shop/Comparison.rpt, line 3: the column width must be from 3 to 400 millimetres, not \"wide\"");
  EXPECT_EQ(error_of(head + "column Description \"Desc\" 30 format=0.00\n"),
            "/shop/Comparison.rpt, line 3: a number format on the text field Description");
  EXPECT_EQ(error_of(head + "column Scanner_Qty \"Qty\" 30 format=0.0x\n"),
            "/shop/Comparison.rpt, line 3: \"0.0x\" is not a number format (for example #,##0.00 or +0.##)");
  EXPECT_EQ(error_of(head + "column Scanner_Qty \"Qty\" 30 colour=red\n"),
            "/shop/Comparison.rpt, line 3: unknown column option \"colour\" (align, format, overflow)");
  EXPECT_EQ(error_of(head + "colum Scanner_Qty \"Qty\" 30\n").substr(0, 52),
            "/shop/Comparison.rpt, line 3: unknown line \"colum\" (");
  EXPECT_EQ(error_of(head + "total Description sum \"All\"\ncolumn Scanner_Qty \"Qty\" 30\n"),
            "/shop/Comparison.rpt, line 3: cannot add up the text field Description");
  EXPECT_EQ(error_of("table Stock\n"),
            "/shop/Comparison.rpt, line 1: unknown table \"Stock\" (tables: Comparison, Not_In_Inventory, Not_Scanned)");
  EXPECT_EQ(error_of("title \"T\"\ncolumn Scanner_Qty \"Qty\" 30\n"),
            "/shop/Comparison.rpt, line 2: the layout names no table (a line \"table Comparison\" is missing)");
  EXPECT_EQ(error_of(head + "summary Variance_Value 0\ncolumn Scanner_Qty \"Qty\" 30\n"),
            "/shop/Comparison.rpt, line 3: the summary count must be a whole number from 1 to 40");
  // Windows line ends and a doubled quote inside a caption.
  Layout l = parse_layout("table Comparison\r\ncolumn Description \"The \"\"best\"\" item\" 40 overflow=wrap\r\n", "x");
  EXPECT_EQ(l.columns[0].caption, "The \"best\" item");
  EXPECT_EQ(l.columns[0].overflow, Overflow::kWrap);
}

TEST(ReportLayoutTest, AMissingLayoutFileIsWrittenWithTheDefaultAndAnEditedOneIsRead) {
  auto dir = std::filesystem::temp_directory_path() / ("tallimo-layout-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "NotScanned.rpt").string();
  Layout first = load_layout(path, ReportKind::kNotScanned);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(first.title, "Items In Inventory not Scanned");
  std::ofstream(path, std::ios::app) << "title \"Uncounted stock\"\n";
  EXPECT_EQ(load_layout(path, ReportKind::kNotScanned).title, "Uncounted stock");
  std::ofstream(path, std::ios::app) << "page A5\n";
  try {
    load_layout(path, ReportKind::kNotScanned);
    ADD_FAILURE() << "a bad paper size was accepted";
  } catch (const jet::Error& e) {
    EXPECT_NE(std::string(e.what()).find(path + ", line "), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("unknown paper \"A5\""), std::string::npos) << e.what();
  }
  std::filesystem::remove_all(dir);
}

TEST(ReportLayoutTest, NumbersAreFormattedRoundedAndSigned) {
  auto fmt = [](int64_t v, const char* pattern) { return format_number(v, *parse_number_format(pattern)); };
  EXPECT_EQ(fmt(12345678900, "#,##0.00"), "1,234,567.89");
  EXPECT_EQ(fmt(12345678950, "#,##0.00"), "1,234,567.90");  // half away from zero
  EXPECT_EQ(fmt(-12345678950, "#,##0.00"), "-1,234,567.90");
  EXPECT_EQ(fmt(-49, "0.00"), "0.00");  // no "-0.00"
  EXPECT_EQ(fmt(25000, "+0.##"), "+2.5");
  EXPECT_EQ(fmt(-25000, "+0.##"), "-2.5");
  EXPECT_EQ(fmt(0, "+0.##"), "0");
  EXPECT_EQ(fmt(30000, "#,##0.####"), "3");
  EXPECT_EQ(fmt(1234, "0.####"), "0.1234");
  EXPECT_EQ(fmt(9999999, "#,##0"), "1,000");
  EXPECT_EQ(fmt(INT64_MIN, "#,##0.####"), "-922,337,203,685,477.5808");
  EXPECT_FALSE(parse_number_format("0.00000"));
  EXPECT_FALSE(parse_number_format("."));
  EXPECT_FALSE(parse_number_format("abc"));
}

}  // namespace
}  // namespace tallimo::reports
