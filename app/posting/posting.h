// The posting engine: scanned records in Scanner_Data become stock changes,
// new and edited products in PRODUCT1, and rows in Compare.
//
// Process_Post drives a run: kinds in the order 4, 5, 0, 1, 3, 2 ("Add New
// Item", "Edit Products", "Add to Inventory", "Subtract Inventory", "Replace
// Inventory", "Compare Inventory"). Each record's effect on PRODUCT1 (and on
// Compare) and its removal from Scanner_Data commit together in one
// transaction over both files, so a run killed at any moment and run again
// applies every record exactly once. Records are grouped into commits for
// speed (PostingOptions::records_per_commit); an abort still stops after the
// record in hand, whose group is then committed.
//
// Failures are reported through Error_Routine under the documented names
// ("Process_Post", "Process_Post_Individual_Item", "Test_To_See_If_Unique",
// "Post_Compare_Records"); the run goes on. A record during whose posting an
// error occurs is applied to no product and stays in Scanner_Data.
//
// Transaction borders and the user interface. While a commit group is open,
// every write to the two files - also one made through another handle on the
// same file, such as a grid edit - belongs to the group and is committed or
// rolled back with it. So the rule is: nothing that may run the window's
// event loop happens while a group is open.
//   - Events run (do_events) only right after a group has been committed;
//     groups close by size or age (PostingOptions), so a window gets events
//     at least every seconds_per_commit.
//   - Errors met inside a group are held and reported (message box and log)
//     once the group has been committed or rolled back, never during it.
//   - The closing message, the grid refresh and the report dialog come after
//     the run's last commit.
//   - Status lines (Display_Status_Message, Update_Status) are given inside
//     groups; the seam requires them not to run the event loop.
// The window only shows progress and sets the abort flag, which is polled
// after each record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/posting/posting_options.h"
#include "jet/value.h"

namespace jet::dao {
class Database;
class Recordset;
}  // namespace jet::dao

namespace tallimo {

class Session;

// The transaction kinds (Scanner_Data.File_Type).
enum FileType : int16_t {
  kAddToInventory = 0,
  kSubtractInventory = 1,
  kCompareInventory = 2,
  kReplaceInventory = 3,
  kAddNewItem = 4,
  kEditProducts = 5,
};

// The kinds in the order a run posts them.
inline constexpr int16_t kPostingOrder[6] = {kAddNewItem,        kEditProducts,     kAddToInventory,
                                            kSubtractInventory, kReplaceInventory, kCompareInventory};

// PRODUCT1's Product Code holds this many characters.
inline constexpr std::size_t kProductCodeLength = 18;

inline constexpr const char* kNotUniqueNote = "Product Code is not unique";
inline constexpr const char* kProcessingComplete = "Processing - Complete";
inline constexpr const char* kNotAllProcessed = "Not all the Items Scanned were able to be processed. ";
inline constexpr const char* kPressAdvanced = "Press the advanced button to View the list";

// One posting run (the "&Process/Post" command and the handheld runs), with
// the session's settings, options and user interface; its figures are left in
// session.last_posting_summary().
void Process_Post(Session& session);

// Posts every Scanner_Data record of kind `File_Type` through `scanner`
// (the products database must be open); returns at once when the kind's
// check box is not ticked.
void Process_Post_Individual_Item(Session& session, int16_t File_Type, jet::dao::Database& scanner);

// True when PRODUCT1 has no row whose Product Code is `code`. Errors are
// reported as "Test_To_See_If_Unique" and give false.
bool Test_To_See_If_Unique(Session& session, const std::string& code);

// Merge a "Compare Inventory" record into Compare: for an item PRODUCT1 holds
// (`product` stands on it) and for one it lacks. Errors are reported as
// "Post_Compare_Records". Returns whether Compare was written (the record
// counts as posted only then).
bool Post_Compare_Records(Session& session, jet::dao::Database& scanner, jet::dao::Recordset& scanner_record,
                          jet::dao::Recordset& product);
bool Post_Compare_Records_No_Product(Session& session, jet::dao::Database& scanner,
                                     jet::dao::Recordset& scanner_record);

// Breaks bulk packages open to cover `shortfall` units of product `code`
// (its absolute value is stored back). Throws jet::Error for an empty stock
// or breakdown quantity, a breakdown quantity of 0, or more than 32767
// packages; nothing is written then.
void Break_Down_Bulk(Session& session, const std::string& code, double& shortfall);

// The multiple of `step` nearest to `value` upwards (`up`) or downwards; 0
// for a value that is not numeric. Throws jet::Error (kOverflow) when the
// count of whole steps leaves the 16-bit range.
double Nearest_Multiple(const jet::Value& value, double step, bool up);

// The statement that looks a product up by code: the code is a double-quoted
// literal with any double quote in it doubled, so every code matches exactly.
std::string product_lookup_sql(const std::string& code);
namespace posting {
// That lookup opened on the session's products database; throws jet::Error when
// the database is not open.
std::unique_ptr<jet::dao::Recordset> find_product(Session& session, const std::string& code);
}  // namespace posting
// `text` as a double-quoted Jet SQL literal.
std::string quoted_literal(const std::string& text);
// Appends `text` to `sql` as a Jet SQL text literal in `quote` (the quote
// character within doubled).
void append_quoted_literal(std::string& sql, std::string_view text, char quote = '"');

// The status line of the kind check box handlers: "&Process/Post" is enabled
// when "All" is not clear or a kind box is ticked.
void Update_Process_Post_Button(Session& session);
void Chk_Process_Items_All_Click(Session& session);
void Chk_Process_Items_Click(Session& session, int16_t index);

}  // namespace tallimo
