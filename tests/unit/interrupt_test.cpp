// Ctrl-C through the stand-in host, which says "pressed" at the N-th time a call asks: every
// mesh plug-in stops with the interrupt's error and no output, at one, two and seven threads;
// the pool is still usable after it, and the same call afterwards gives the bits it gave
// before. LeakSanitizer (the sanitizer build of these tests) checks that nothing an
// interrupted call took stays allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "environment.h"
#include "harness.h"
#include "interrupt_checks.h"
#include "long_calls.h"

using mexhost::Array;
using mexhost::call;
using mexhost::CallResult;
using tulm_test::bits;
using tulm_test::expect_interrupted;
using tulm_test::set_environment;

namespace {

// Every mesh plug-in on the icosphere subdivided 6 times, with two far points for
// TULM_findNearestVertex.
const std::vector<tulm_test::LongCall>& long_calls() {
  static const std::vector<tulm_test::LongCall> calls = tulm_test::long_mesh_calls(6, 2);
  return calls;
}

class Interrupt : public testing::Test {
 protected:
  void TearDown() override {
    mexhost::interrupt_at_poll(0);
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", ""), 0);
  }
};

// On one thread the polls of a call are the same every time: an interrupt at the first, a
// middle and the last of them stops the call. On several, the calling thread also asks while it
// waits for the others, as often as they take: the first poll stops the call, a later one stops
// it or comes after its end.
TEST_F(Interrupt, EveryLongCallStopsWithoutOutputAndThenGivesItsBitsAgain) {
  for (const tulm_test::LongCall& c : long_calls()) {
    const std::vector<Array>& args = c.inputs;
    for (const char* threads : {"1", "2", "7"}) {
      const std::string what = c.label() + " at " + threads + " threads";
      ASSERT_EQ(set_environment("TULM_NUM_THREADS", threads), 0);
      mexhost::interrupt_at_poll(0);
      const CallResult whole = call(c.plugin, c.nlhs, args);
      ASSERT_FALSE(whole.failed) << what << ": " << whole.error;
      ASSERT_GE(whole.interrupt_polls, 1) << what << " never asks whether Ctrl-C was pressed";
      const bool onePass = threads[0] == '1';
      for (int64_t poll : {int64_t{1}, (whole.interrupt_polls + 1) / 2, whole.interrupt_polls}) {
        mexhost::interrupt_at_poll(poll);
        const CallResult stopped = call(c.plugin, c.nlhs, args);
        const std::string at = what + ", interrupted at poll " + std::to_string(poll);
        if (onePass || poll == 1 || stopped.failed) {
          expect_interrupted(stopped, at);
        } else if (c.repeatable) {
          EXPECT_EQ(bits(stopped), bits(whole)) << at << " ended before that poll";
        }
      }
      mexhost::interrupt_at_poll(0);
      const CallResult again = call(c.plugin, c.nlhs, args);
      ASSERT_FALSE(again.failed) << what << ", after the interrupts: " << again.error;
      if (c.repeatable) {
        EXPECT_EQ(bits(again), bits(whole)) << what << ", after the interrupts";
      }
    }
  }
}

}  // namespace
