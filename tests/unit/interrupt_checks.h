// What the interrupt tests check of a call that the stand-in host interrupted, and of the calls
// around it.
#ifndef TULM_TESTS_UNIT_INTERRUPT_CHECKS_H
#define TULM_TESTS_UNIT_INTERRUPT_CHECKS_H

#include <gtest/gtest.h>

#include <string>

#include "harness.h"

namespace tulm_test {

inline const char* const kInterruptedId = "TULM:interrupted";
inline const char* const kInterruptedText = "Interrupted by Ctrl-C";

// The bytes of every output, with its class and dimensions.
inline std::string bits(const mexhost::CallResult& result) {
  std::string out;
  for (const mexhost::Array& output : result.outputs) {
    if (!output.exists()) {
      out += "(none)";
      continue;
    }
    out += std::to_string(output.class_id()) + ":";
    for (size_t d : output.dims()) out += std::to_string(d) + ",";
    const size_t bytes = output.numel() * (output.class_id() == mxDOUBLE_CLASS ? 8 : 4);
    if (bytes > 0) out.append(static_cast<const char*>(mxGetData(output.get())), bytes);
  }
  return out;
}

// The call ended as an interrupted call ends: the interrupt's error, no output, nothing written
// where it must not be.
inline void expect_interrupted(const mexhost::CallResult& result, const std::string& what) {
  EXPECT_TRUE(result.failed) << what;
  EXPECT_EQ(result.error_id, kInterruptedId) << what;
  EXPECT_EQ(result.error, kInterruptedText) << what;
  for (const mexhost::Array& output : result.outputs) EXPECT_FALSE(output.exists()) << what;
  EXPECT_TRUE(result.guards_intact) << what;
  EXPECT_TRUE(result.inputs_intact) << what;
}

}  // namespace tulm_test

#endif  // TULM_TESTS_UNIT_INTERRUPT_CHECKS_H
