// Which road a move at the restart takes: the NT line's pending moves, or
// Windows 9x's wininit.ini. The restart tests show the Windows 9x answer, with
// Wine reporting Windows 98 to the program.
#include <gtest/gtest.h>

#include "fs/move_or_defer.h"
#include "platform/test_support.h"

namespace {

TEST(IsNtPlatform, TellsTheSystemItRunsOnAndKeepsTheAnswer) {
  // Wine reports the NT line unless told otherwise; Linux has no version
  // answer, which counts as not the NT line.
  EXPECT_EQ(is_nt_platform(), test_support::kWindows);
  EXPECT_EQ(is_nt_platform(), test_support::kWindows);
}

}  // namespace
