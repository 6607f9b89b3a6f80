#include "index/key_encoding.h"

#include <gtest/gtest.h>

TEST(KeyEncoding, Placeholder) {}
