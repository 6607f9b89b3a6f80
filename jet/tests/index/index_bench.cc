// Benchmark (not a test): keyed lookups through an index tree.
//
//   jet_index_bench [FIXTURES_DIR]
//
// 1. A 100,000-row text index (product codes) built in memory as Jet pages:
//    10,000 random lookups by key through IndexReader::find (root-to-leaf
//    descent, key encoding included), against the same lookups in a
//    std::map of the decoded keys (the in-memory ideal) in the same run.
// 2. products_20k.mdb: 10,000 Table::seek calls on its primary key, against
//    the same lookups in a std::map built from a full table read.
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/index_reader.h"
#include "index_test_util.h"
#include "index/key_encoding.h"
#include "jet/database.h"
#include "jet/table.h"

using namespace jet;
using namespace jet::index;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string code(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "P%06d", i);
  return buf;
}

void in_memory_tree() {
  const int kRows = 100000;
  const int kLookups = 10000;
  IndexLayout layout;
  layout.name = "ByCode";
  layout.table_name = "PRODUCT1";
  KeyColumn c;
  c.type = ColumnType::kText;
  layout.columns.push_back(c);
  layout.tdef_page = 2;

  std::vector<Entry> entries;
  entries.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    Value v = code(i);
    entries.push_back({encode_key(layout, {&v, 1}), RowPointer{static_cast<uint32_t>(1000 + i / 50), static_cast<uint8_t>(i % 50)}});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return compare_keys(a.key, b.key) < 0; });
  MemoryPages pages(4000);  // data pointers reach page 3000
  layout.first_page = build_tree(pages, entries, 200, 150, true);
  IndexReader reader(pages, layout);

  std::mt19937 rng(1);
  std::vector<int> wanted(kLookups);
  for (int& w : wanted) w = static_cast<int>(rng() % kRows);

  auto t0 = std::chrono::steady_clock::now();
  std::size_t found = 0;
  std::vector<Value> key(1);
  for (int w : wanted) {
    key[0] = code(w);
    found += reader.find(key).size();
  }
  const double ours = seconds_since(t0);

  std::map<std::string, RowPointer> peer;
  for (int i = 0; i < kRows; ++i) peer.emplace(code(i), RowPointer{static_cast<uint32_t>(1000 + i / 50), static_cast<uint8_t>(i % 50)});
  t0 = std::chrono::steady_clock::now();
  std::size_t peer_found = 0;
  for (int w : wanted) peer_found += peer.count(code(w));
  const double ideal = seconds_since(t0);

  std::printf("in-memory index, %d rows: %d lookups through IndexReader::find: %.4f s (%zu found); "
              "std::map: %.4f s (%zu found); ratio %.1f\n",
              kRows, kLookups, ours, found, ideal, peer_found, ideal > 0 ? ours / ideal : 0.0);
}

void products_file(const std::string& dir) {
  OpenOptions options;
  options.password = "qzmvrp";
  std::unique_ptr<Database> db;
  try {
    db = Database::open(dir + "/products_20k.mdb", options);
  } catch (const Error& e) {
    std::printf("products_20k.mdb: skipped (%s)\n", e.what());
    return;
  }
  Table& t = db->table("PRODUCT1");
  const IndexDef* pk = nullptr;
  for (const IndexDef& ix : t.indexes()) {
    if (ix.primary_key) pk = &ix;
  }
  if (pk == nullptr || pk->columns.size() != 1) {
    std::printf("products_20k.mdb: no single-column primary key\n");
    return;
  }
  const int col = t.def().find_column(pk->columns[0].column_name);
  std::map<std::string, RowId> peer;
  std::vector<Value> keys;
  auto t0 = std::chrono::steady_clock::now();
  for (RowCursor c = t.scan(); c.next();) {
    if (const auto* s = std::get_if<std::string>(&c.row()[col])) {
      peer.emplace(*s, c.id());
      keys.push_back(*s);
    }
  }
  const double read_all = seconds_since(t0);
  std::mt19937 rng(2);
  std::vector<Value> wanted(10000);
  for (Value& w : wanted) w = keys[rng() % keys.size()];

  t0 = std::chrono::steady_clock::now();
  std::size_t found = 0;
  for (const Value& w : wanted) found += t.seek(pk->name, {&w, 1}).size();
  const double ours = seconds_since(t0);
  t0 = std::chrono::steady_clock::now();
  std::size_t peer_found = 0;
  for (const Value& w : wanted) peer_found += peer.count(std::get<std::string>(w));
  const double ideal = seconds_since(t0);
  std::printf("products_20k.mdb (%zu rows, read in %.3f s): 10000 Table::seek on '%s': %.4f s (%zu found); "
              "std::map: %.4f s (%zu found); ratio %.1f\n",
              keys.size(), read_all, pk->name.c_str(), ours, found, ideal, peer_found, ideal > 0 ? ours / ideal : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  in_memory_tree();
  products_file(argc > 1 ? argv[1] : TALLIMO_FIXTURES);
  return 0;
}
