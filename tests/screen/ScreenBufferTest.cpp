#include "CTerminalScreen.h"
#include <gtest/gtest.h>
TEST(Smoke, Builds) { CTerminalScreen s; EXPECT_EQ(s.Rows().size(), 42u); }
