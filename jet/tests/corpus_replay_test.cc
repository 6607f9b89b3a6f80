// Runs under AddressSanitizer and UBSan (built against jet_asan): damaged
// files saved in tests/corpus (fuzzer finds and hand-made ones), every
// fixture, and seeded random damage must read to the end or stop with a
// jet::Error; any memory or undefined-behaviour fault aborts the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "jet/error.h"
#include "page_source.h"
#include "test_util.h"
#include "testing/read_everything.h"

namespace jet {
namespace {

void read_or_error(const std::vector<uint8_t>& bytes, const std::string& name, const std::string& password = {}) {
  try {
    testing::read_everything_from_bytes(bytes.data(), bytes.size(), name, password);
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
  }
}

std::vector<std::string> corpus_files() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(JET_TEST_CORPUS)) {
    std::string n = e.path().filename().string();
    if (e.is_regular_file() && n[0] != '.' && n != "README.md") out.push_back(n);
  }
  std::sort(out.begin(), out.end());
  return out;
}

class CorpusReplayTest : public ::testing::TestWithParam<std::string> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusReplayTest);

TEST_P(CorpusReplayTest, ReadsOrFailsCleanly) {
  read_or_error(test::read_file(std::string(JET_TEST_CORPUS) + "/" + GetParam()), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusReplayTest, ::testing::ValuesIn(corpus_files()), [](const auto& info) {
  std::string n = info.param;
  for (char& c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return n;
});

TEST(SanitizedReadTest, EveryFixtureReadsCompletely) {
  for (const std::string& name : test::fixture_files()) {
    SCOPED_TRACE(name);
    auto bytes = test::read_file(test::fixture(name));
    EXPECT_NO_THROW(testing::read_everything_from_bytes(bytes.data(), bytes.size(), name, test::fixture_password(name)));
  }
}

TEST(SanitizedReadTest, SeededRandomDamage) {
  std::mt19937 rng(7);
  for (const char* name : {"adox_jet4.mdb", "testV2000.mdb", "indexTestV2000.mdb", "overflowTestV2000.mdb",
                           "products_small.mdb"}) {
    const auto original = test::read_file(test::fixture(name));
    const std::size_t pages = original.size() / kPageSize;
    for (int round = 0; round < 30; ++round) {
      auto b = original;
      switch (round % 3) {
        case 0: {  // one page of noise
          std::size_t pg = 1 + rng() % (pages - 1);
          for (std::size_t i = 0; i < kPageSize; ++i) b[pg * kPageSize + i] = static_cast<uint8_t>(rng());
          break;
        }
        case 1:  // scattered bytes
          for (int k = 0; k < 32; ++k) b[kPageSize + rng() % (b.size() - kPageSize)] = static_cast<uint8_t>(rng());
          break;
        default:  // 16-bit fields set to extremes
          for (int k = 0; k < 16; ++k) {
            std::size_t at = kPageSize + rng() % (b.size() - kPageSize - 1);
            b[at] = b[at + 1] = (k % 2) ? 0xFF : 0x00;
          }
      }
      read_or_error(b, std::string("damaged-") + name, test::fixture_password(name));
    }
  }
}

}  // namespace
}  // namespace jet
