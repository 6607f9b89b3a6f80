// The handheld template databases in "Palm Support Files" and the steps that move rows
// between them, Scanner_Data and PRODUCT1: Import_Template and Build_Item_List. Shared by
// the Palm transfer and the Windows Mobile transfer.
//
// Each template is a Jet 4 file with one table, VFTable. When a template is missing it
// is created by Ensure_Templates with these column types:
//
//   ITEMNUMBER  text(50)      DESC      text(255)     QTY       double
//   COST        currency      LIST      currency      PRICE     currency
//   LOCATION    text(50)      VENDOR    text(50)      Edit      yes/no (item list only)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet::dao {
class Database;
}

namespace tallimo {
class Session;
}

namespace tallimo::handheld {

inline constexpr const char* kSupportFolder = "Palm Support Files";
inline constexpr const char* kCreatorId = "QTL7";
inline constexpr const char* kDeviceLibrary = "QMRZ_PalmDB.dll";

// One handheld table: its template file, the table name in the handheld file's name
// and the transaction kind its rows carry (-1: the ordered table, never read).
struct HandheldTable {
  const char* template_file;  // "AddNew.MDB"
  const char* table;          // "ADDNEW"
  int16_t kind;
};

// The seven tables, in the order the Data model lists them.
const std::vector<HandheldTable>& handheld_tables();
const HandheldTable& handheld_table(const char* template_file);

// The values shared by the steps of one transfer (the Palm window or the Windows
// Mobile run), set at its start by Initialise_Sync_Globals().
struct SyncGlobals {
  std::string AddNew_Template, ItemList_Template, AddTo_Template, Subtract_Template, Replace_Template,
      Compare_Template, Ordered_Template;
  std::string Creator_ID = kCreatorId;
  std::string Device_Library = kDeviceLibrary;
  int Sync_State = 1;
  std::string Sync_SQL;
};
SyncGlobals Initialise_Sync_Globals(const Session& session);

// The session's application folder + "Palm Support Files/".
std::string support_folder(const Session& session);

// The SQL that creates VFTable in a template (`with_edit`: the item list's Edit column).
std::string vftable_sql(bool with_edit);

// Creates every missing template in the support folder (and the folder). Templates
// that exist are left as they are. Throws jet::Error.
void Ensure_Templates(const Session& session);

// Copies the template's VFTable rows into Scanner_Data as `kind` (the item list only
// rows whose Edit is True) and empties the template (the item list only when
// `empty_template`). The added rows and the emptying commit together in one transaction
// over both files, so a transfer killed at any moment either has copied and emptied the
// table or has done neither. Rows the desktop already holds (imported before, or sent to
// the handheld itself, see Mark_Template_Sent) are skipped while the table still starts
// with them, so a transfer that stopped before the handheld's table was cleared does not
// count its scans twice when it runs again. Lets the user
// interface run after every row. Errors are reported through Error_Routine as
// "Import_Template" and give false (nothing of the table is then copied).
bool Import_Template(Session& session, SyncGlobals& globals, const std::string& template_path, int16_t kind,
                     bool empty_template);

// Records that the handheld's table now holds exactly the template's VFTable rows (it
// was sent there), so a later import skips them while the handheld's table still starts
// with them. Throws jet::Error.
void Mark_Template_Sent(const std::string& template_path);

// Inserts every PRODUCT1 row into the item-list template with the documented statement,
// on the products database opened with Open_Orvex_DataBase and closed afterwards.
// Errors are reported through Error_Routine as "Build_Item_List" and give false.
bool Build_Item_List(Session& session, SyncGlobals& globals);

// The statement Build_Item_List executes (four lines, each ended by CR LF).
std::string build_item_list_sql(const std::string& item_list_template);

}  // namespace tallimo::handheld
