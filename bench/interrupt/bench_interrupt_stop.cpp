// How soon each mesh plug-in stops once the user presses Ctrl-C, on the icosphere subdivided
// 9 times (2,621,442 vertices) or as given, at one and two threads. Each call runs once whole;
// then the stand-in host says "pressed" at a tenth, two tenths, ... nine tenths of that time,
// and the table gives the longest and the median time from that answer to the call's end.
// Far points in TULM_findNearestVertex, which would run for hours, are pressed at 0.1 to 0.9 s.
//
//   bench_interrupt_stop [SUBDIVISIONS [FAR_POINTS [CALL]]]   (CALL: the calls whose label has it)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "environment.h"
#include "harness.h"
#include "long_calls.h"

int main(int argc, char** argv) {
  const int subdivisions = argc > 1 ? std::atoi(argv[1]) : 9;
  const int farPoints = argc > 2 ? std::atoi(argv[2]) : 20;
  const std::string only = argc > 3 ? argv[3] : "";
  mexhost::set_plugin_dir(TULM_PLUGIN_DIR);
  const std::vector<tulm_test::LongCall> calls =
      tulm_test::long_mesh_calls(subdivisions, farPoints);
  std::printf("icosphere %d; times in ms; stop: from Ctrl-C to the end of the call\n",
              subdivisions);
  std::printf("%-58s %7s %9s %9s %9s %9s\n", "call", "threads", "whole", "polls", "stop max",
              "stop med");
  bool late = false;
  for (const tulm_test::LongCall& call : calls) {
    if (call.label().find(only) == std::string::npos) continue;
    for (const char* threads : {"1", "2"}) {
      tulm_test::set_environment("TULM_NUM_THREADS", threads);
      double whole = 1.0;  // seconds
      int64_t polls = 0;
      if (call.repeatable) {
        mexhost::interrupt_after(-1);
        const auto start = std::chrono::steady_clock::now();
        const mexhost::CallResult result = mexhost::call(call.plugin, call.nlhs, call.inputs);
        whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        polls = result.interrupt_polls;
        if (result.failed) {
          std::printf("%s: %s\n", call.label().c_str(), result.error.c_str());
          return 1;
        }
      }
      std::vector<double> stops;
      for (int tenth = 1; tenth <= 9; ++tenth) {
        mexhost::interrupt_after(whole * tenth / 10);
        const mexhost::CallResult result = mexhost::call(call.plugin, call.nlhs, call.inputs);
        if (result.seconds_to_stop >= 0) stops.push_back(result.seconds_to_stop);
      }
      mexhost::interrupt_after(-1);
      std::sort(stops.begin(), stops.end());
      const double most = stops.empty() ? -1 : stops.back();
      const double median = stops.empty() ? -1 : stops[stops.size() / 2];
      late |= most > 0.02;
      std::printf("%-58s %7s %9.1f %9lld %9.2f %9.2f\n", call.label().c_str(), threads,
                  call.repeatable ? 1e3 * whole : -1.0, static_cast<long long>(polls), 1e3 * most,
                  1e3 * median);
      std::fflush(stdout);
    }
  }
  if (late) std::printf("some call took more than 20 ms to stop\n");
  return 0;
}
