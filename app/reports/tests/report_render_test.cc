// The variance figures, the pages, and what the PDF and CSV files hold, read
// back with pdftotext and pdfinfo; the command line end to end.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/session.h"
#include "app/data/scanner_database.h"
#include "jet/error.h"
#include "report_test_support.h"
#include "app/reports/report_data.h"
#include "app/reports/report_database.h"
#include "app/reports/report_document.h"
#include "app/reports/report_request.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;
using namespace tallimo::reports;

ReportRow row(const std::string& item, std::optional<double> counted, std::optional<double> recorded,
              std::optional<double> cost, const std::string& description = "Item", const std::string& location = "A") {
  auto money = [](std::optional<double> v) -> std::optional<int64_t> {
    if (!v) return std::nullopt;
    return static_cast<int64_t>(*v * 10000 + (*v < 0 ? -0.5 : 0.5));
  };
  ReportRow r;
  r.item_number = item;
  r.scanner_qty = money(counted);
  r.orvex_qty = money(recorded);
  r.current_cost = money(cost);
  r.description = description;
  r.location = location;
  return r;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string pdf_text(const std::string& path) { return run("pdftotext -layout '" + path + "' -"); }

int pdf_pages(const std::string& path) {
  std::string info = run("pdfinfo '" + path + "'");
  auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

TEST(ReportFiguresTest, VarianceItsValueAndTheShrinkageAndOverageTotals) {
  std::vector<ReportRow> rows = {row("A", 4, 5, 1.5), row("B", 10, 7, 2.25), row("C", 3, std::nullopt, 0.3333),
                                 row("D", 2, 2, std::nullopt)};
  EXPECT_EQ(number_value(rows[0], Field::kVariance), -10000);
  EXPECT_EQ(number_value(rows[0], Field::kVarianceValue), -15000);
  EXPECT_EQ(number_value(rows[1], Field::kVarianceValue), 67500);
  // A Null recorded quantity counts as none: 3 x 0.3333 = 0.9999.
  EXPECT_EQ(number_value(rows[2], Field::kVarianceValue), 9999);
  EXPECT_EQ(number_value(rows[3], Field::kVarianceValue), 0);
  EXPECT_EQ(number_value(rows[1], Field::kStockValue), 157500);
  // Products of two four-decimal amounts round half away from zero.
  ReportRow odd = row("E", 0.0001, 0, 0.5);
  EXPECT_EQ(number_value(odd, Field::kVarianceValue), 1);
  odd = row("F", -0.0001, 0, 0.5);
  EXPECT_EQ(number_value(odd, Field::kVarianceValue), -1);

  Total shrink{Field::kVarianceValue, TotalKind::kNegative, "", {}};
  Total over{Field::kVarianceValue, TotalKind::kPositive, "", {}};
  Total net{Field::kVarianceValue, TotalKind::kSum, "", {}};
  Total count{Field::kItemNumber, TotalKind::kCount, "", {false, true, 0, 0}};
  EXPECT_EQ(total_value(rows, 0, rows.size(), shrink), -15000);
  EXPECT_EQ(total_value(rows, 0, rows.size(), over), 77499);
  EXPECT_EQ(total_value(rows, 0, rows.size(), net), 62499);
  EXPECT_EQ(total_text(total_value(rows, 1, 3, count), count), "2");
}

TEST(ReportFiguresTest, RowsSortByGroupThenKeysWithoutRegardToCase) {
  Layout l = parse_layout(
      "table Comparison\nsort -Variance_Value item_number\ngroup Location\ncolumn Item_Number \"I\" 20\n", "x");
  std::vector<ReportRow> rows = {row("b", 1, 0, 1, "", "Z"), row("A", 1, 0, 1, "", "Z"), row("c", 5, 0, 1, "", "z"),
                                 row("D", 1, 0, 1, "", "M")};
  sort_rows(rows, l);
  std::string order;
  for (auto& r : rows) order += r.item_number;
  EXPECT_EQ(order, "DcAb");
}

TEST(ReportFiguresTest, CsvHasCaptionsAndPlainNumbersAndQuotesWhatNeedsIt) {
  Layout l = parse_layout(
      "table Comparison\ncolumn Item_Number \"Item, code\" 20\ncolumn Description \"Description\" 40\n"
      "column Variance_Value \"Value\" 20 format=+#,##0.00\n",
      "x");
  std::ostringstream out;
  write_csv(l, {row("A1", 1000, 0, 2.5, "Say \"hi\""), row("B2", 0, 3, 0.1234, "Crème brûlée, 250 g")}, out);
  EXPECT_EQ(out.str(),
            "\"Item, code\",Description,Value\r\n"
            "A1,\"Say \"\"hi\"\"\",2500\r\n"
            "B2,\"Crème brûlée, 250 g\",-0.3702\r\n");
}

class ReportDocumentTest : public ReportShopTest {};

TEST_F(ReportDocumentTest, PagesCarryHeaderFooterGroupsTotalsAndTheSummaryChart) {
  Layout l = parse_layout(default_layout_text(ReportKind::kComparison), "Comparison.rpt");
  l.shop = "Corner Shop Ltd";
  std::vector<ReportRow> rows;
  for (int i = 0; i < 150; ++i) {
    rows.push_back(row("P" + std::to_string(1000 + i), i % 7, 3, 1.25, "Plain item " + std::to_string(i),
                       i < 75 ? "Aisle 1" : "Aisle 2"));
  }
  rows.push_back(row("LONG", 1, 0, 100,
                     "An exceptionally long description of a product that cannot possibly fit into one line of its "
                     "column and must therefore wrap onto the lines below it inside the same row",
                     "Aisle 2"));
  rows.push_back(row("UNI", 0, 2, 9.99, "Crème brûlée – Ærø smørrebrød Σ", "Aisle 1"));
  ReportDocument doc(l, rows, ReportInfo{"ignored", "12/06/2026 14:30"});
  ASSERT_GE(doc.page_count(), 4);  // summary page and several pages of rows

  const std::string pdf = dir_ + "/comparison.pdf";
  doc.write_pdf(pdf);
  EXPECT_EQ(pdf_pages(pdf), doc.page_count());
  const std::string text = pdf_text(pdf);
  const std::string pages = std::to_string(doc.page_count());
  EXPECT_NE(text.find("Page 1 of " + pages), std::string::npos);
  EXPECT_NE(text.find("Page " + pages + " of " + pages), std::string::npos);
  EXPECT_NE(text.find("Corner Shop Ltd"), std::string::npos);
  EXPECT_NE(text.find("12/06/2026 14:30"), std::string::npos);
  EXPECT_NE(text.find("Largest variances by value"), std::string::npos);
  EXPECT_NE(text.find("Location: Aisle 1"), std::string::npos);
  EXPECT_NE(text.find("Location: Aisle 2"), std::string::npos);
  EXPECT_NE(text.find("Crème brûlée – Ærø smørrebrød Σ"), std::string::npos);
  // The long description wraps: its last words are on the page, not cut off.
  EXPECT_NE(text.find("inside the same row"), std::string::npos);
  // Totals over all 152 rows: 150 rows of (i%7 - 3) x 1.25, +100 and -19.98.
  int64_t shrink = 0, over = 0;
  for (int i = 0; i < 150; ++i) {
    int64_t v = (i % 7 - 3) * 12500;
    (v < 0 ? shrink : over) += v;
  }
  shrink -= 199800;
  over += 1000000;
  NumberFormat f{false, true, 2, 2}, signed_f{true, true, 2, 2};
  EXPECT_NE(text.find("Shrinkage (value short)"), std::string::npos);
  EXPECT_NE(text.find(format_number(shrink, f)), std::string::npos) << format_number(shrink, f);
  EXPECT_NE(text.find(format_number(over, signed_f)), std::string::npos) << format_number(over, signed_f);
  EXPECT_NE(text.find(format_number(shrink + over, signed_f)), std::string::npos);
  EXPECT_NE(text.find("Items counted"), std::string::npos);

  // The preview's image of a page: white paper with dark print on it.
  QImage page = doc.page_image(1, 50);
  ASSERT_FALSE(page.isNull());
  EXPECT_EQ(page.pixelColor(0, 0), QColor(Qt::white));
  int dark = 0;
  for (int y = 0; y < page.height(); y += 2)
    for (int x = 0; x < page.width(); x += 2) dark += qGray(page.pixel(x, y)) < 100;
  EXPECT_GT(dark, 200);
}

TEST_F(ReportDocumentTest, AnEmptyReportIsOnePageSayingSo) {
  Layout l = parse_layout(default_layout_text(ReportKind::kNotInInventory), "NotInInventory.rpt");
  ReportDocument doc(l, {}, ReportInfo{"Shop", "date"});
  EXPECT_EQ(doc.page_count(), 1);
  const std::string pdf = dir_ + "/empty.pdf";
  doc.write_pdf(pdf);
  const std::string text = pdf_text(pdf);
  EXPECT_NE(text.find("No items."), std::string::npos);
  EXPECT_NE(text.find("Page 1 of 1"), std::string::npos);
}

TEST_F(ReportDocumentTest, APdfThatCannotBeWrittenIsAnErrorNamingTheFile) {
  Layout l = parse_layout(default_layout_text(ReportKind::kNotInInventory), "NotInInventory.rpt");
  ReportDocument doc(l, {row("A", 1, 0, 1)}, ReportInfo{"Shop", "date"});
  const std::string bad = dir_ + "/no/such/folder/r.pdf";
  try {
    doc.write_pdf(bad);
    ADD_FAILURE() << "no error";
  } catch (const jet::Error& e) {
    EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
  }
}

TEST_F(ReportDocumentTest, HeadlessRequestWritesPdfAndCsvFromTheReportDatabaseAndDeletesIt) {
  demo::Product p = product("N1", 4, "Not counted item");
  p.current_cost = 2.5;
  make_report_shop({product("A1", 5), p, product("C3", 7)}, {{"A1", 4, 5}, {"X9", 2}});
  const std::string pdf = dir_ + "/not-scanned.pdf", csv = dir_ + "/not-scanned.csv";
  EXPECT_EQ(run_report_to_files(session(), ReportKind::kNotScanned, pdf, csv), "");
  // The layout was written where a shop can edit it.
  EXPECT_TRUE(fs::exists(session().application_folder() + "NotScanned.rpt"));
  const std::string text = pdf_text(pdf);
  EXPECT_NE(text.find("Items In Inventory not Scanned"), std::string::npos);
  // Stock value not counted: N1 4 x 2.50 + C3 7 x 1.50 = 20.50.
  EXPECT_NE(text.find("Stock value not counted"), std::string::npos);
  EXPECT_NE(text.find("20.50"), std::string::npos);
  EXPECT_EQ(slurp(csv),
            "Item Number,Description,Vendor,Recorded,Cost,Stock Value\r\n"
            "C3,Item,ACME,7,1.5,10.5\r\n"
            "N1,Not counted item,ACME,4,2.5,10\r\n");
  for (auto& e : fs::directory_iterator(dir_)) {
    std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "products.mdb" || name.find(".mdb") == std::string::npos) << name << " left behind";
  }
}

TEST_F(ReportDocumentTest, CommandLineWritesTheChosenReportAndRefusesBadUsage) {
  make_report_shop({product("A1", 5), product("B2", 1)}, {{"A1", 4, 5}, {"Z\"9", 2}});
  Close_Scanner_Data_File(session());
  const std::string cli = std::string(TALLIMO_CLI) + " report --home '" + dir_ + "' --products '" + products_path() + "'";
  const std::string csv = dir_ + "/missing.csv";
  run(cli + " --which not-in-inventory --csv '" + csv + "' --quiet");
  EXPECT_EQ(slurp(csv), "Item Number,Description,Vendor,Location,Counted\r\n\"Z\"\"9\",Counted,ACME,A12,2\r\n");
  const std::string pdf = dir_ + "/comparison.pdf";
  run(cli + " --which comparison --pdf '" + pdf + "' --quiet");
  EXPECT_NE(pdf_text(pdf).find("Net variance value"), std::string::npos);
  EXPECT_EQ(std::system((cli + " --which everything --pdf x.pdf 2>/dev/null").c_str()) >> 8, 2);
  EXPECT_EQ(std::system((cli + " --which comparison 2>/dev/null").c_str()) >> 8, 2);
  // A layout with an error: exit 1 and the message names file and line.
  std::ofstream(dir_ + "/Comparison.rpt") << "table Comparison\ncolumn Nothing \"x\" 10\n";
  const std::string out = dir_ + "/out.txt";
  EXPECT_EQ(std::system((cli + " --which comparison --pdf '" + pdf + "' > '" + out + "' 2>&1").c_str()) >> 8, 1);
  EXPECT_NE(slurp(out).find(dir_ + "/Comparison.rpt, line 2: unknown field \"Nothing\""), std::string::npos)
      << slurp(out);
}

}  // namespace
}  // namespace tallimo::testing
