#include "core/spatial_search/radiusPointSearch.h"

#include <cmath>

#include "core/interrupt.h"

namespace tulm {
namespace {

// The nodes the search reaches, and the matches whose outputs are written, between two polls
// for Ctrl-C: a radius that takes in most of a large tree makes a long call.
constexpr int64_t kReachedPerPoll = 1 << 15;
constexpr int32_t kMatchesPerPoll = 1 << 16;

}  // namespace

void radiusPointSearch(const tree_header& tree, const double* query, double radius,
                       const std::function<RangeOutputs(int32_t R)>& createOutputs) {
  const int32_t ndim = tree.ndim;
  const std::vector<const node*> matches = run_range_search(tree.root, query, ndim, radius);
  const int64_t count = static_cast<int64_t>(matches.size());
  const RangeOutputs out = createOutputs(static_cast<int32_t>(count));
  const auto write = [&](int64_t begin, int64_t end) {
    for (int64_t k = begin; k < end; ++k) {
      for (int32_t l = 0; l < ndim; ++l) out.points[k + l * count] = matches[k]->value[l];
    }
    if (out.distances != nullptr) {
      for (int64_t k = begin; k < end; ++k) {
        double sum = 0.0;
        for (int32_t l = 0; l < ndim; ++l) {
          const double d = out.points[k + l * count] - query[l];
          sum += d * d;
        }
        out.distances[k] = std::sqrt(sum);
      }
    }
    if (out.rows != nullptr) {
      for (int64_t k = begin; k < end; ++k) out.rows[k] = static_cast<double>(matches[k]->idx + 1u);
    }
  };
  in_polled_blocks(0, static_cast<int32_t>(count), kMatchesPerPoll, write);
}

std::vector<const node*> run_range_search(const node* root, const double* query, int32_t ndim,
                                          double radius) {
  std::vector<const node*> matches;
  int64_t reached = 0;
  if (root != nullptr) {
    for_each_in_range(
        root, radius, query, ndim,
        [&matches](const node* match, double) { matches.push_back(match); },
        [&reached] {
          if ((++reached & (kReachedPerPoll - 1)) == 0) poll_interrupt();
        });
  }
  return matches;
}

}  // namespace tulm
