// Opening files: header facts, passwords, encoded pages, connect strings,
// and failures of the file system underneath.
#include <gtest/gtest.h>

#include <cstring>

#include "binary.h"
#include "header.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/value_text.h"
#include "page_source.h"
#include "rc4.h"
#include "test_util.h"
#include "testing/fault_env.h"
#include "testing/read_everything.h"

namespace jet {
namespace {

using test::error_of;

std::vector<std::vector<Row>> all_rows(Database& db) {
  std::vector<std::vector<Row>> out;
  for (const auto& t : db.tables(true)) out.push_back(db.table(t.name).read_all());
  return out;
}

TEST(OpenTest, HeaderFactsOfAnAccess2000File) {
  auto db = Database::open(test::fixture("testV2000.mdb"));
  const DatabaseInfo& info = db->info();
  EXPECT_EQ(info.jet_version, 1u);
  EXPECT_EQ(info.code_page, 0x04E4);
  EXPECT_EQ(info.sort_order & 0xFFFF, 0x0409u);
  EXPECT_FALSE(info.has_password);
  EXPECT_FALSE(info.encoded);
  CivilTime c = to_civil(info.creation_date);
  EXPECT_EQ(c.year, 2004);  // 38135.74 days after 1899-12-30
  EXPECT_EQ(info.page_count, 3043328u / 4096);
}

TEST(OpenTest, PasswordFilesOpenOnlyWithTheirPassword) {
  for (const char* name : {"V2000_with-password.mdb", "V2003_with-password.mdb"}) {
    SCOPED_TRACE(name);
    const std::string path = test::fixture(name);
    auto db = Database::open(path, OpenOptions{.password = "password"});
    EXPECT_TRUE(db->info().has_password);
    EXPECT_EQ(db->table("Table1").read_all().size(), 3u);
    for (const char* wrong : {"", "Password", "passwor", "password ", "qzmvrp"}) {
      Error e = error_of([&] { Database::open(path, OpenOptions{.password = wrong}); });
      EXPECT_EQ(e.category(), ErrorCategory::kPassword) << wrong;
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    Error missing = error_of([&] { Database::open(path); });
    EXPECT_NE(std::string(missing.what()).find("no password was given"), std::string::npos) << missing.what();
    Error wrong = error_of([&] { Database::open(path, OpenOptions{.password = "x"}); });
    EXPECT_NE(std::string(wrong.what()).find("not a valid password"), std::string::npos) << wrong.what();
  }
}

TEST(OpenTest, ProductsOpenWithTheirPasswordGivenAsConnectString) {
  for (const char* name : {"products_small.mdb", "products_20k.mdb"}) {
    SCOPED_TRACE(name);
    auto db = Database::open(test::fixture(name), OpenOptions::from_connect_string(";pwd=qzmvrp"));
    ASSERT_TRUE(db->has_table("product1"));
    EXPECT_GT(db->table("PRODUCT1").read_all().size(), 0u);
    EXPECT_EQ(error_of([&] { Database::open(test::fixture(name), OpenOptions::from_connect_string(";pwd=QZMVRP")); })
                  .category(),
              ErrorCategory::kPassword);
  }
}

TEST(OpenTest, ConnectStringParsing) {
  EXPECT_EQ(OpenOptions::from_connect_string(";pwd=secret").password, "secret");
  EXPECT_EQ(OpenOptions::from_connect_string("MS Access;PWD=a=b;").password, "a=b");
  EXPECT_EQ(OpenOptions::from_connect_string(";pwd=").password, "");
  EXPECT_EQ(OpenOptions::from_connect_string("").password, "");
  EXPECT_EQ(OpenOptions::from_connect_string("uid=admin").password, "");
}

TEST(OpenTest, UnprotectedFilesIgnoreAGivenPassword) {
  auto db = Database::open(test::fixture("V2000_no-password.mdb"), OpenOptions{.password = "anything"});
  EXPECT_EQ(db->table("Table1").read_all().size(), 3u);
}

// Turns a plain file into one with the "encode" option: a database key in
// the header and every page after the first RC4-encrypted with key ^ page.
std::vector<uint8_t> encode_file(std::vector<uint8_t> bytes, uint32_t key) {
  toggle_header_mask(bytes.data());
  put_le32(bytes.data() + kHeaderOffsetDbKey, key);
  toggle_header_mask(bytes.data());
  for (std::size_t pg = 1; pg < bytes.size() / kPageSize; ++pg) {
    rc4_apply(key ^ static_cast<uint32_t>(pg), bytes.data() + pg * kPageSize, kPageSize);
  }
  return bytes;
}

TEST(OpenTest, EncodedFilesReadLikeTheirPlainOriginal) {
  for (const char* name : {"testV2000.mdb", "V2000_with-password.mdb"}) {
    SCOPED_TRACE(name);
    const std::string password = test::fixture_password(name);
    auto plain = Database::open(test::fixture(name), OpenOptions{.password = password});
    testing::FaultEnv env;
    env.put_file("encoded.mdb", encode_file(test::read_file(test::fixture(name)), 0x5EC2E7A1));
    auto encoded = Database::open("encoded.mdb", OpenOptions{.password = password, .env = &env});
    EXPECT_TRUE(encoded->info().encoded);
    EXPECT_EQ(all_rows(*encoded), all_rows(*plain));
    // The same bytes with the key removed from the header are garbage.
    std::vector<uint8_t> keyless = env.contents("encoded.mdb");
    toggle_header_mask(keyless.data());
    put_le32(keyless.data() + kHeaderOffsetDbKey, 0);
    toggle_header_mask(keyless.data());
    env.put_file("keyless.mdb", keyless);
    EXPECT_THROW(Database::open("keyless.mdb", OpenOptions{.password = password, .env = &env}), Error);
  }
}

TEST(OpenTest, MissingFileIsNotFound) {
  Error e = error_of([] { Database::open("/nonexistent/dir/x.mdb"); });
  EXPECT_EQ(e.category(), ErrorCategory::kNotFound);
  EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/x.mdb"), std::string::npos);
}

TEST(OpenTest, ReadFailuresOfTheFileSystemSurfaceAsIoErrors) {
  for (int nth : {1, 2, 5, 20}) {
    testing::FaultEnv env;
    env.load_file(test::fixture("testV2000.mdb"), "t.mdb");
    env.fail_after(testing::FaultOp::kRead, nth);
    Error e = error_of([&] {
      auto db = Database::open("t.mdb", OpenOptions{.password = "", .env = &env, .cache_pages = 16});
      testing::read_everything(*db);
    });
    EXPECT_EQ(e.category(), ErrorCategory::kIo) << nth << ": " << e.what();
    EXPECT_NE(std::string(e.what()).find("t.mdb"), std::string::npos);
  }
}

TEST(OpenTest, SmallCacheReadsTheSameAsALargeOne) {
  auto big = Database::open(test::fixture("testV2000.mdb"));
  auto small = Database::open(test::fixture("testV2000.mdb"), OpenOptions{.password = "", .read_write = false, .env = nullptr, .cache_pages = 16});
  EXPECT_EQ(all_rows(*small), all_rows(*big));
}

TEST(OpenTest, ReadWriteOpenReadsTooAndLetsASecondWriterIn) {
  // A private copy: read-write opens must not touch the shared fixtures.
  const std::string copy = ::testing::TempDir() + "/rw_copy.mdb";
  {
    auto bytes = test::read_file(test::fixture("V2000_no-password.mdb"));
    auto f = Env::posix()->open_file(copy, OpenMode::kCreate);
    f->write_at(0, bytes.size(), bytes.data());
    f->sync();
  }
  auto db = Database::open(copy, OpenOptions{.password = "", .read_write = true});
  EXPECT_EQ(db->table("Table1").read_all().size(), 3u);
  auto second = Database::open(copy, OpenOptions{.password = "", .read_write = true});
  EXPECT_EQ(second->table("Table1").read_all().size(), 3u);
  auto reader = Database::open(copy);
  EXPECT_EQ(reader->table("Table1").read_all().size(), 3u);
  Env::posix()->remove_file(copy);
}

}  // namespace
}  // namespace jet
