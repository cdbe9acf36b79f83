// The fixed, seeded set of calls that tulm_golden records: every plug-in on meshes of a few
// sizes (icospheres and irregular sphere hulls, folded copies of them) and on tie-heavy k-d
// data, and the core nearest-vertex search with restarts drawn from a seeded generator.
#ifndef TULM_TESTS_GOLDEN_GOLDEN_CALLS_H
#define TULM_TESTS_GOLDEN_GOLDEN_CALLS_H

#include <vector>

#include "golden_records.h"

namespace tulm_golden {

struct GoldenRun {
  std::vector<Record> records;
  int troubledCalls = 0;  // calls that failed, wrote past their slots or into an input
};

// Every call in a fixed order. Plug-ins are loaded through the stand-in host by name.
GoldenRun run_golden_calls();

}  // namespace tulm_golden

#endif  // TULM_TESTS_GOLDEN_GOLDEN_CALLS_H
