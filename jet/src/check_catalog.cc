// The catalog part of the consistency check: every table definition the file
// holds is named by a row of the system catalog (MSysObjects), and every
// data page belongs to such a table. A catalog whose rows were deleted or
// changed by something other than the engine leaves tables that no name
// reaches and pages that no table owns; this finds them.
//
// What it reads (format notes, every fixture): a table definition starts on
// a page of type 0x02 and continues on the pages its header chains at offset
// 4 (0 ends the chain); a data page (type 0x01) names its table's first
// definition page at offset 4 (long-value pages hold "LVAL" there, pages of
// usage maps 0); a catalog row of Type 1 names its table's
// definition page in the low 24 bits of its Id (TableEntry::tdef_page).
// The catalog's own definition is on page 2.
#include "check_catalog.h"

#include <map>
#include <set>

#include "binary.h"
#include "data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "table_def.h"

namespace jet {
namespace {

// Whether a page of the definition type holds a definition that reads:
// Access leaves pages of that type with meaningless contents behind (two in
// testV2000.mdb), which are no table's and are not reported.
bool is_table_definition(PageSource& pages, uint32_t page) {
  try {
    (void)read_table_def(pages, page, "(no catalog row)");
    return true;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace

void check_catalog(Database& db, const std::function<bool(uint32_t)>& is_free, CheckReport& report) {
  PageSource& pages = db.pages();
  const uint32_t n = pages.page_count();
  constexpr uint32_t kCatalogPage = 2;
  constexpr uint32_t kLongValueMark = 0x4C41564C;  // "LVAL" read as a little-endian number

  std::map<uint32_t, std::string> named;  // first definition page -> table name
  named[kCatalogPage] = "MSysObjects";
  for (const TableEntry& e : db.tables(true)) {
    if (e.tdef_page >= n || e.tdef_page == 0) {
      report.problems.push_back("the catalog row of table '" + e.name + "' names page " +
                                std::to_string(e.tdef_page) + ", which is beyond the end of the file");
      continue;
    }
    if (pages.page(e.tdef_page)[0] != kPageTypeTdef) {
      report.problems.push_back("the catalog row of table '" + e.name + "' names page " +
                                std::to_string(e.tdef_page) + ", which is not a table definition");
      continue;
    }
    auto [it, inserted] = named.emplace(e.tdef_page, e.name);
    if (!inserted && it->second != e.name) {
      report.problems.push_back("the catalog names the table definition on page " + std::to_string(e.tdef_page) +
                                " twice: '" + it->second + "' and '" + e.name + "'");
    }
  }

  // Pages that continue a definition are part of it, not definitions of their own.
  std::set<uint32_t> continuation;
  for (uint32_t pg = 1; pg < n; ++pg) {
    if (is_free(pg)) continue;
    const uint8_t* p = pages.page(pg);
    if (p[0] != kPageTypeTdef) continue;
    uint32_t next = le32(p + 4);
    if (next != 0 && next < n) continuation.insert(next);
  }

  std::map<uint32_t, uint32_t> pages_of_unnamed;  // definition page -> data pages naming it
  for (uint32_t pg = 1; pg < n; ++pg) {
    if (is_free(pg)) continue;
    const uint8_t* p = pages.page(pg);
    if (p[0] == kPageTypeTdef) {
      if (!named.count(pg) && !continuation.count(pg) && is_table_definition(pages, pg)) {
        report.problems.push_back("the table definition on page " + std::to_string(pg) +
                                  " has no catalog row (MSysObjects names no table there)");
      }
    } else if (p[0] == kPageTypeData && pg != 1) {
      uint32_t owner = le32(p + kDataOffTdefPage);
      // Long values (memo, OLE) live on data pages marked "LVAL" instead of
      // an owner; pages of owner 0 hold the usage maps of tables and indexes.
      if (owner == kLongValueMark || owner == 0 || named.count(owner)) continue;
      ++pages_of_unnamed[owner];
    }
  }
  for (const auto& [owner, count] : pages_of_unnamed) {
    std::string what = owner < n && pages.page(owner)[0] == kPageTypeTdef
                           ? "the table definition on page " + std::to_string(owner) + ", which has no catalog row"
                           : "page " + std::to_string(owner) + ", which is no table's definition";
    report.problems.push_back(std::to_string(count) + " data page" + (count == 1 ? "" : "s") +
                              " belong to no table of the catalog: they name " + what);
  }
}

}  // namespace jet
