// Calls of every mesh plug-in on one icosphere, each long enough to ask many times whether the
// user pressed Ctrl-C: for the interrupt tests (small spheres) and for the benchmark of how
// soon a call stops (large ones).
#ifndef TULM_TESTS_SUPPORT_LONG_CALLS_H
#define TULM_TESTS_SUPPORT_LONG_CALLS_H

#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace tulm_test {

struct LongCall {
  LongCall(std::string plugin, int nlhs, std::vector<mexhost::Array> inputs, std::string what = "",
           bool repeatable = true)
      : plugin(std::move(plugin)),
        nlhs(nlhs),
        inputs(std::move(inputs)),
        what(std::move(what)),
        repeatable(repeatable) {}

  std::string label() const { return what.empty() ? plugin : plugin + ", " + what; }

  std::string plugin;
  int nlhs;
  std::vector<mexhost::Array> inputs;
  std::string what;  // what makes the call long, where that needs saying
  // The same inputs give the same bits: not so for far points in TULM_findNearestVertex, which
  // restart from random vertices seeded from the clock.
  bool repeatable;
};

// The calls on the icosphere subdivided `subdivisions` times (4 ** subdivisions * 10 + 2
// vertices): its tables, the measures, face location and nearest vertices of points jittered
// around the vertices, a ring neighbourhood of the whole sphere, the fold penalties with every
// face flipped, and `farPoints` points far from the sphere whose nearest vertices need random
// restarts (none when 0).
std::vector<LongCall> long_mesh_calls(int subdivisions, int farPoints);

}  // namespace tulm_test

#endif  // TULM_TESTS_SUPPORT_LONG_CALLS_H
