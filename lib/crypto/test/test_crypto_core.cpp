#include <gtest/gtest.h>
#include "suite_crypto.h"
TEST(CryptoCore, Builds) { EXPECT_STREQ(WJC_GetVersion(), "1.3.0.0"); }
