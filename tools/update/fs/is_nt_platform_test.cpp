// The platform test in a process of its own, so that its cache starts empty:
// the system is asked on the first call only, and a move made now asks nothing.
#include <gtest/gtest.h>

#include <string>

#include "fs/move_or_defer.h"
#include "platform/platform.h"
#include "platform/test_support.h"

namespace {

TEST(IsNtPlatform, AMoveMadeNowAsksNothingAndTheSystemIsAskedOnce) {
  ASSERT_EQ(platform::call_counts().platform_id_queries, 0u) << "run this test in a process of its own";
  std::string folder = test_support::make_temp_folder();
  test_support::write_file(folder + "a", "a");
  EXPECT_EQ(move_or_defer((folder + "a").c_str(), (folder + "b").c_str()), MoveOutcome::moved);
  test_support::remove_tree(folder);
  EXPECT_EQ(platform::call_counts().platform_id_queries, 0u);

  bool first = is_nt_platform();
  bool second = is_nt_platform();
  EXPECT_EQ(platform::call_counts().platform_id_queries, 1u);
  EXPECT_EQ(first, second);
  // Wine reports the NT line unless told otherwise; Linux has no version
  // answer, which counts as not the NT line.
  EXPECT_EQ(first, test_support::kWindows);
}

}  // namespace
