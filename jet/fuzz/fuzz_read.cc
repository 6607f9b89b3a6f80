// libFuzzer target: open the input as a database and read all of it.
// Any jet::Error is a correct outcome; a crash, a sanitizer report, a hang
// or another exception is a bug.
#include <cstddef>
#include <cstdint>

#include "jet/error.h"
#include "testing/read_everything.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  try {
    jet::testing::read_everything_from_bytes(data, size, "fuzz.mdb");
  } catch (const jet::Error&) {
  }
  return 0;
}
