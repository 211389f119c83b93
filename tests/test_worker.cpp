#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "imagelib/worker.h"

namespace {

// Runs with the helper thread allowed (true) and not (false).
class WorkerTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { imagelib_detail::set_threads(GetParam()); }
  void TearDown() override { imagelib_detail::set_threads(true); }
};

}  // namespace

// Jobs run one after another, each after the one before has finished, and wait() returns once
// the last has run; without a thread each runs within start().
TEST_P(WorkerTest, JobsRunInTurnAndWaitSeesTheirWork) {
  imagelib_detail::Worker worker;
  EXPECT_EQ(worker.has_thread(), GetParam() && imagelib_detail::threads_available());
  std::vector<int> done;
  for (int i = 0; i < 100; ++i) {
    worker.start([&done, i] { done.push_back(i); });
  }
  worker.wait();
  std::vector<int> expected(100);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(done, expected);
  imagelib_detail::Worker unwanted(false);
  EXPECT_FALSE(unwanted.has_thread());
}

INSTANTIATE_TEST_SUITE_P(ThreadsAllowedOrNot, WorkerTest, testing::Bool());

// The caller and its Worker take alternate turns: the work done in turn comes in turn order, and
// a failed turn ends every turn after it, for both.
TEST(TurnOrder, TurnsComeInOrderAndAFailureEndsTheRest) {
  for (const int failing : {-1, 7}) {
    imagelib_detail::Worker worker;
    if (!worker.has_thread()) {
      GTEST_SKIP() << "this build has no threads";
    }
    imagelib_detail::TurnOrder turns;
    std::vector<int> order;
    const auto take = [&](int first) {
      for (int k = first; k < 20; k += 2) {
        if (!turns.wait_for(k)) {
          return;
        }
        order.push_back(k);
        turns.finish(k == failing);
      }
    };
    worker.start([&] { take(1); });
    take(0);
    worker.wait();
    std::vector<int> expected(failing < 0 ? 20 : failing + 1);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected) << "failing turn " << failing;
    EXPECT_EQ(turns.wait_for(20), failing < 0);
  }
}
