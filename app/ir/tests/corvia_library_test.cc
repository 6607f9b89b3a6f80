// Binding Corvia by name: a clear error naming every place tried when it is missing
// or is not Corvia, and a later call that succeeds once the host points at it.
#include <gtest/gtest.h>

#include <string>

#include "app/ir/corvia_library.h"
#include "jet/error.h"

namespace tallimo::ir {
namespace {

TEST(CorviaLibraryTest, TheProgramWideBindingRetriesUntilTheHostPointsAtTheLibrary) {
  // Runs first, before any test has loaded Corvia: neither the test's folder nor the
  // loader's search path holds libCorvia.so.
  set_corvia_library_path("/nonexistent/folder");
  EXPECT_THROW(corvia_library(), jet::Error);
  std::string folder = CORVIA_LIBRARY_FILE;
  set_corvia_library_path(folder.substr(0, folder.rfind('/')));
  EXPECT_EQ(corvia_library().path, CORVIA_LIBRARY_FILE);
}

TEST(CorviaLibraryTest, AMissingLibraryIsAClearErrorNamingWhereItLooked) {
  try {
    load_corvia_library({"/nonexistent/folder/libCorvia.so"});
    FAIL() << "loaded a library that does not exist";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kNotFound);
    std::string text = e.what();
    EXPECT_NE(text.find("The infrared port library libCorvia.so could not be loaded"), std::string::npos) << text;
    EXPECT_NE(text.find("/nonexistent/folder/libCorvia.so"), std::string::npos) << text;
  }
}

TEST(CorviaLibraryTest, ALibraryWithoutTheFunctionsIsRefused) {
  try {
    load_corvia_library({"libc.so.6"});
    FAIL() << "accepted the C library as Corvia";
  } catch (const jet::Error& e) {
    EXPECT_NE(std::string(e.what()).find("libc.so.6: has no function vbOpenIrCom"), std::string::npos) << e.what();
  }
}

TEST(CorviaLibraryTest, TheFirstCandidateThatLoadsIsBound) {
  CorviaLibrary lib = load_corvia_library({"/nonexistent/libCorvia.so", CORVIA_LIBRARY_FILE});
  EXPECT_EQ(lib.path, CORVIA_LIBRARY_FILE);
  ASSERT_NE(lib.CopyMem, nullptr);
  char to[4] = "---";
  EXPECT_EQ(lib.CopyMem(to, "ab", 2), 2);
  EXPECT_STREQ(to, "ab-");
  EXPECT_EQ(lib.CloseIrCom(), 0);
}

}  // namespace
}  // namespace tallimo::ir
