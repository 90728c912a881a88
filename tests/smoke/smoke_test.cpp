#include "tarn/tarn.h"
#include <gtest/gtest.h>
TEST(Smoke, ErrorStartsAtZero) { EXPECT_EQ(tarn_error.load(), 0); }
