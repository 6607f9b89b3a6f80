// The layouts the program writes into the application folder when a layout
// file is missing. Their comments explain the format to whoever opens them.
#include "app/reports/report_layout.h"

namespace tallimo::reports {
namespace {

constexpr const char* kFormatNotes = R"rpt(#
# Tallimo report layout. Lines starting with # are notes; texts with blanks
# go in double quotes ("" inside them is one "). One setting per line:
#
#   title   "text"                      the report's title
#   table   Comparison | Not_In_Inventory | Not_Scanned
#   shop    "name"                      shown by {shop}; empty: the computer's name
#   page    A4|Letter portrait|landscape
#   margins MILLIMETRES
#   font    "family" POINTS
#   sort    FIELD [-FIELD ...]          a leading - sorts that field descending
#   group   FIELD "caption {value}"     a heading and sub-totals per value
#   column  FIELD "caption" WIDTH_MM [align=left|center|right]
#           [format=PATTERN] [overflow=wrap|ellipsis]
#   total   FIELD sum|negative|positive|count "caption" [PATTERN]
#   header  "left" "centre" "right"     page header; footer likewise
#   footer  "left" "centre" "right"
#   summary FIELD COUNT "title"         a first page charting the COUNT largest
#                                       values of FIELD (by size)
#
# Fields: Item_Number, Description, Vendor_Code, Location (texts);
# Scanner_Qty (counted), Orvex_Qty (recorded), Standard_Price, Current_Cost,
# List_Price, ID; worked out: Variance (Scanner_Qty - Orvex_Qty),
# Variance_Value (Variance x Current_Cost), Stock_Value (Orvex_Qty x
# Current_Cost), Counted_Value (Scanner_Qty x Current_Cost).
# Number patterns: #,##0.00 groups thousands and shows two decimals; 0.##
# shows up to two when they are not zero; a leading + signs positive numbers.
# Placeholders in header and footer: {shop} {title} {date} {page} {pages}
# {table} {rows}.
#
)rpt";

constexpr const char* kComparison = R"rpt(
title   "Stock Count: Counted against Recorded"
table   Comparison
shop    ""
page    A4 landscape
margins 12
font    "DejaVu Sans" 8
sort    Location Item_Number
group   Location "Location: {value}"

column  Item_Number    "Item Number"     30
column  Description    "Description"     72  overflow=wrap
column  Vendor_Code    "Vendor"          22
column  Scanner_Qty    "Counted"         20  format=#,##0.####
column  Orvex_Qty      "Recorded"        20  format=#,##0.####
column  Variance       "Variance"        20  format=+#,##0.####
column  Current_Cost   "Cost"            22  format=#,##0.00
column  Variance_Value "Variance Value"  28  format=+#,##0.00

total   Item_Number    count     "Items counted"
total   Variance_Value negative  "Shrinkage (value short)"  #,##0.00
total   Variance_Value positive  "Overage (value over)"     +#,##0.00
total   Variance_Value sum       "Net variance value"       +#,##0.00

summary Variance_Value 15 "Largest variances by value"

header  "{shop}" "{title}" "{date}"
footer  "{table}: {rows} items" "" "Page {page} of {pages}"
)rpt";

constexpr const char* kNotInInventory = R"rpt(
title   "Items Scanned and Not in Inventory"
table   Not_In_Inventory
shop    ""
page    A4 portrait
margins 12
font    "DejaVu Sans" 8
sort    Item_Number

column  Item_Number    "Item Number"     34
column  Description    "Description"     70  overflow=wrap
column  Vendor_Code    "Vendor"          24
column  Location       "Location"        26
column  Scanner_Qty    "Counted"         22  format=#,##0.####

total   Item_Number    count     "Items not in inventory"
total   Scanner_Qty    sum       "Units counted"  #,##0.####

header  "{shop}" "{title}" "{date}"
footer  "{table}: {rows} items" "" "Page {page} of {pages}"
)rpt";

constexpr const char* kNotScanned = R"rpt(
title   "Items In Inventory not Scanned"
table   Not_Scanned
shop    ""
page    A4 portrait
margins 12
font    "DejaVu Sans" 8
sort    Location Item_Number
group   Location "Location: {value}"

column  Item_Number    "Item Number"     30
column  Description    "Description"     62
column  Vendor_Code    "Vendor"          20
column  Orvex_Qty      "Recorded"        22  format=#,##0.####
column  Current_Cost   "Cost"            22  format=#,##0.00
column  Stock_Value    "Stock Value"     30  format=#,##0.00

total   Item_Number    count     "Items not counted"
total   Orvex_Qty      sum       "Units not counted"        #,##0.####
total   Stock_Value    sum       "Stock value not counted"  #,##0.00

header  "{shop}" "{title}" "{date}"
footer  "{table}: {rows} items" "" "Page {page} of {pages}"
)rpt";

}  // namespace

std::string default_layout_text(ReportKind kind) {
  std::string head = std::string("# ") + layout_file_name(kind) + ": the layout of the report \"";
  switch (kind) {
    case ReportKind::kComparison:
      return head + "Show Comparison\".\n" + kFormatNotes + kComparison;
    case ReportKind::kNotInInventory:
      return head + "Items Scanned and Not in Inventory\".\n" + kFormatNotes + kNotInInventory;
    case ReportKind::kNotScanned:
      return head + "Items In Inventory not Scanned\".\n" + kFormatNotes + kNotScanned;
  }
  return "";
}

}  // namespace tallimo::reports
