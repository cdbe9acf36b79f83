#include "core/spatial_search/nearest_queries.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <numeric>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "core/portability.h"
#include "core/spatial_search/packed_tree.h"

namespace tulm {

const node* pointLocation(const node* root, const double* q, int32_t n) {
  const node* at = root;
  while (at->left != nullptr || at->right != nullptr) {
    const int32_t s = at->dim;
    const double v = at->value[s];
    const node* next;
    if (v > q[s]) {
      next = at->left;
    } else if (q[s] > v) {
      next = at->right;
    } else {
      const node* a = at->left != nullptr ? pointLocation(at->left, q, n) : at;
      const node* b = at->right != nullptr ? pointLocation(at->right, q, n) : at;
      return calcdistance(b->value, q, n) > calcdistance(a->value, q, n) ? a : b;
    }
    if (next == nullptr) return at;
    at = next;
  }
  return at;
}

namespace {

// Absolute slack, in coordinate units, added to the candidate's distance before the radius
// search collects every point that could be nearer.
constexpr double kSearchSlack = 0.001;

// x's low 10 bits spread to every third bit.
uint32_t spread_to_thirds(uint32_t x) {
  x &= 0x3ff;
  x = (x | x << 16) & 0x30000ff;
  x = (x | x << 8) & 0x300f00f;
  x = (x | x << 4) & 0x30c30c3;
  x = (x | x << 2) & 0x9249249;
  return x;
}

// x's low 15 bits spread to every second bit.
uint32_t spread_to_halves(uint32_t x) {
  x &= 0x7fff;
  x = (x | x << 8) & 0x00ff00ff;
  x = (x | x << 4) & 0x0f0f0f0f;
  x = (x | x << 2) & 0x33333333;
  x = (x | x << 1) & 0x55555555;
  return x;
}

// The model rows between two polls of the loops over all of them that come before the
// queries: a few milliseconds of the slowest (the scatter of a radix pass).
constexpr int32_t kRowsPerPoll = 1 << 16;

// Sorts (key << 32 | row) entries by their 30-bit keys, ties in the order given: an LSD radix
// sort over three 10-bit digits. spare holds as many entries.
void sort_by_key(uint64_t* keyed, uint64_t* spare, int32_t n) {
  constexpr int kDigitBits = 10;
  constexpr uint64_t kDigitMask = (1u << kDigitBits) - 1;
  for (int shift = 32; shift < 32 + 3 * kDigitBits; shift += kDigitBits) {
    size_t start[kDigitMask + 2] = {};
    in_polled_blocks(0, n, kRowsPerPoll, [&](int32_t begin, int32_t end) {
      for (int32_t e = begin; e < end; ++e) ++start[((keyed[e] >> shift) & kDigitMask) + 1];
    });
    for (uint64_t digit = 0; digit <= kDigitMask; ++digit) start[digit + 1] += start[digit];
    in_polled_blocks(0, n, kRowsPerPoll, [&](int32_t begin, int32_t end) {
      for (int32_t e = begin; e < end; ++e) {
        spare[start[(keyed[e] >> shift) & kDigitMask]++] = keyed[e];
      }
    });
    std::swap(keyed, spare);
  }
}

// The model rows along a Morton curve of their first three coordinates (30 bits in all), so
// that consecutive queries walk the same nodes while those are still in cache and each query's
// search starts from the answer of the one before. Empty when the order is not worth making
// or there is no memory for it; each row's answer is the same in any order. A tree of
// treeCount points whose coordinates fit in kCachedTreeBytes stays in cache in any order of
// the queries, and there sorting them costs more than it saves.
std::vector<int32_t> cache_friendly_order(const double* model, int32_t Q, int32_t N,
                                          int32_t treeCount) {
  constexpr int32_t kWorthSorting = 1024;
  constexpr int64_t kCachedTreeBytes = 256 * 1024;
  if (Q < kWorthSorting) return {};
  if (int64_t{treeCount} * N * static_cast<int64_t>(sizeof(double)) <= kCachedTreeBytes) return {};
  try {
    const int32_t dims = std::min(N, 3);
    const int32_t bits = 30 / dims;
    const double cells = static_cast<double>((1u << bits) - 1);
    double lo[3];
    double scale[3];
    for (int32_t k = 0; k < dims; ++k) {
      const double* column = model + static_cast<int64_t>(k) * Q;
      double low = INFINITY;
      double high = -INFINITY;
      for (int32_t i = 0; i < Q; ++i) {
        if (std::isfinite(column[i])) {
          low = std::min(low, column[i]);
          high = std::max(high, column[i]);
        }
      }
      lo[k] = low;
      scale[k] = high > low ? cells / (high - low) : 0.0;
    }
    // Filled before read, so left uninitialised: the call pays for no clearing.
    std::unique_ptr<uint64_t[]> keyed(new uint64_t[Q]);
    std::unique_ptr<uint64_t[]> spare(new uint64_t[Q]);
    in_polled_blocks(0, Q, kRowsPerPoll, [&](int32_t begin, int32_t end) {
      for (int32_t i = begin; i < end; ++i) {
        uint32_t key = 0;
        for (int32_t k = 0; k < dims; ++k) {
          const double x = model[i + static_cast<int64_t>(k) * Q];
          // NaN, infinities and a span beyond the largest double (where the cell is NaN) go
          // to the ends or to cell 0, as they come.
          const double cell = (x - lo[k]) * scale[k];
          const uint32_t c = static_cast<uint32_t>(cell > cells ? cells : cell >= 0.0 ? cell : 0.0);
          key |= (dims == 3 ? spread_to_thirds(c) : dims == 2 ? spread_to_halves(c) : c) << k;
        }
        keyed[i] = static_cast<uint64_t>(key) << 32 | static_cast<uint32_t>(i);
      }
    });
    sort_by_key(keyed.get(), spare.get(), Q);
    // Three passes leave the sorted entries in spare's first buffer, now keyed's partner.
    const uint64_t* sorted = spare.get();
    std::vector<int32_t> order;
    order.reserve(static_cast<size_t>(Q));
    for (int32_t i = 0; i < Q; ++i) order.push_back(static_cast<int32_t>(sorted[i] & 0xffffffffu));
    return order;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

// The nodes a literal search reaches between two of its polls for Ctrl-C, a power of 2.
constexpr int64_t kReachedPerPoll = 1 << 15;

// The literal search for one row: the descent's candidate, then the last of the nearest
// matches in pre-order of the radius search around it. Null when nothing matches. Adds the
// nodes the radius search reached to `reached`.
const node* literal_nearest(const node* root, const double* q, int32_t N, double& distance,
                            int64_t& reached) {
  const node* candidate = pointLocation(root, q, N);
  const double r = calcdistance(candidate->value, q, N) + kSearchSlack;
  // Walking the result list keeps a match when dist >= its distance, so the last of the
  // nearest matches in pre-order wins. (Distances from q or to q are the same bits.)
  const node* best = nullptr;
  for_each_in_range(
      root, r, q, N,
      [&](const node* match, double d) {
        if (best == nullptr || distance >= d) {
          best = match;
          distance = d;
        }
      },
      [&reached] {
        if ((++reached & (kReachedPerPoll - 1)) == 0) poll_interrupt();
      });
  return best;
}

void write_answer(double* out, int32_t i, int32_t Q, int32_t N, int16_t mode, uint32_t row,
                  const double* value) {
  if (mode == kIndexMode) {
    out[i] = static_cast<double>(row);
  } else {
    for (int32_t k = 0; k < N; ++k) out[i + static_cast<int64_t>(k) * Q] = value[k];
  }
}

void write_no_match(double* out, int32_t i, int32_t Q, int32_t N, int16_t mode) {
  if (mode == kIndexMode) {
    out[i] = -1;
  } else {
    for (int32_t k = 0; k < N; ++k) out[i + static_cast<int64_t>(k) * Q] = -1;
  }
}

// Packing the tree takes time in proportion to its points: until it has been asked, over all
// calls, one query per kPointsPerQuery points, the literal search alone costs less.
constexpr int64_t kPointsPerQuery = 64;

// Queries whose work pays for starting a thread.
constexpr int32_t kQueriesPerGrain = 1024;

// How many rows ahead the coordinates of a row are fetched.
constexpr int32_t kPrefetchDistance = 8;

// The work of a query, for its polls: the points it measured (or the nodes the literal search
// reached) and kQueryWork more, each point counted as its coordinates plus kPointWork; a
// piece polls once kWorkPerPoll of it is done: 0.2 ms of queries in 3-D, about 1 ms in 16-D
// (1e6 and 1e7 uniform points). The work of one query ranges from a few dozen points (3-D, a
// packed tree) to most points of the tree (many dimensions, or a query far from the tree), so
// a count of rows alone would poll too often or too seldom; a query that measures many points
// polls within itself too (packed_tree.cpp, literal_nearest).
constexpr int64_t kQueryWork = 64;
constexpr int64_t kPointWork = 8;
constexpr int64_t kWorkPerPoll = int64_t{1} << 18;

// Rows of at most this many coordinates keep their scratch on the stack.
constexpr int32_t kStackCoordinates = 16;

}  // namespace

// Why the packed search gives the literal answer, for a tree whose coordinates and a row whose
// coordinates all lie within B = coordinate_bound(N) in magnitude (finite, no NaN):
//
// Every match of the radius search has r >= its distance, so none is nearer than the smallest
// distance dmin over all points; the literal answer is the last match at the smallest distance
// among the matches. It is therefore the packed search's answer once every point p at distance
// dmin is a match. With s the split dimension of p or of any of its ancestors, p is tested and
// matched when, in exact arithmetic, |q[s] - p[s]| <= r and r >= dmin: rounding is monotone, so
// q[s] - r <= p[s] gives q[s] - r rounded <= p[s] (and so on for v - r, v + r, r + q[s]), and
// an ancestor's split value v lies between p[s] and the side the search enters (the left side
// holds p[s] <= v, the right side p[s] >= v). r >= dmin holds as r = dc + 0.001 rounded with
// dc, the candidate's distance, at least dmin.
//
// For |q[s] - p[s]| <= r: with D the exact Euclidean distance of q and p and u = 2^-53, each
// of the N differences, squares and sums and the root rounds with a relative error of at most
// u (a subtraction that underflows is exact; squares that underflow lose less than 2^-1075
// each), so dmin >= D (1 - (N + 4) u / 2) - 2^-520 and r >= (dmin + 0.001)(1 - u), hence
// r - D >= 0.001 (1 - u) - D u (N + 8) / 2 - 2^-520. With D <= 2 B sqrt(N) and
// B sqrt(N) (N + 8) = 1e12, the middle term is at most 1.2e-4: r > D >= |q[s] - p[s]|. The same
// bound keeps every sum far from overflow, so no distance is infinite.
void run_queries(tree_header& tree, const double* model, int32_t Q, double* out, double* dist,
                 int16_t mode, Diagnostics& diagnostics) {
  if (Q <= 0) return;
  const int32_t N = tree.ndim;
  const std::vector<int32_t> order = cache_friendly_order(model, Q, N, tree.count);
  const int64_t queries = tree.queries + Q;
  const PackedTree packed =
      queries * kPointsPerQuery >= tree.count ? PackedTree::of(tree) : PackedTree();

  std::atomic<int64_t> unmatched{0};
  parallel_for(Q, kQueriesPerGrain, [&](int32_t begin, int32_t end) {
    // The row, then the packed search's scratch.
    constexpr int32_t kPerCoordinate = 1 + PackedTree::kScratchPerCoordinate;
    double stackScratch[kPerCoordinate * kStackCoordinates];
    std::vector<double> heapScratch;
    double* q = stackScratch;
    if (N > kStackCoordinates) {
      heapScratch.resize(kPerCoordinate * static_cast<size_t>(N));
      q = heapScratch.data();
    }
    double* scratch = q + N;
    int64_t misses = 0;
    int32_t hint = -1;
    PollMeter meter(kWorkPerPoll);
    int64_t measured = 0;  // by the last query
    for (int32_t n = begin; n < end; ++n) {
      meter.add((measured + kQueryWork) * (N + kPointWork));
      measured = 0;
      const int32_t i = order.empty() ? n : order[n];
      if (!order.empty() && n + kPrefetchDistance < end) {
        // Rows in Morton order are scattered in memory: fetch a later row's coordinates now.
        const int32_t later = order[n + kPrefetchDistance];
        for (int32_t k = 0; k < N; ++k) TULM_PREFETCH(&model[later + static_cast<int64_t>(k) * Q]);
      }
      for (int32_t k = 0; k < N; ++k) q[k] = model[i + static_cast<int64_t>(k) * Q];
      if (!packed.empty() && packed.admits(q)) {
        const NearestHit hit = packed.nearest(q, scratch, hint);
        hint = hit.position;
        measured = hit.measured;
        dist[i] = hit.distance;
        if (mode == kIndexMode) {
          out[i] = static_cast<double>(packed.row(hit.position));
        } else {
          for (int32_t k = 0; k < N; ++k) {
            out[i + static_cast<int64_t>(k) * Q] = packed.coordinate(hit.position, k);
          }
        }
        continue;
      }
      double distance = 0.0;
      const node* best = literal_nearest(tree.root, q, N, distance, measured);
      if (best == nullptr) {
        write_no_match(out, i, Q, N, mode);
        ++misses;
        continue;
      }
      dist[i] = distance;
      write_answer(out, i, Q, N, mode, best->idx, best->value);
    }
    unmatched += misses;
  });
  // Counted once answered: an interrupted call leaves the tree as it found it, but for a search
  // copy it made.
  tree.queries = queries;
  // Every row without a match prints the same line, so the order of rows is not seen.
  for (int64_t k = 0; k < unmatched; ++k) diagnostics.print("Null LL\n");
}

SearchedTree::~SearchedTree() {
  if (built_) release_tree(tree_);
}

bool SearchedTree::build(const double* reference, int32_t M, int32_t N, Diagnostics& diagnostics) {
  std::vector<int32_t> idx(static_cast<size_t>(M));
  std::iota(idx.begin(), idx.end(), 0);
  tree_ = build_tree(reference, M, N, idx.data(), M, 0, diagnostics);
  built_ = tree_ != nullptr;
  return built_;
}

void SearchedTree::use_kept(tree_header* kept) { tree_ = kept; }

void SearchedTree::finish(bool handleReturned) {
  if (!handleReturned) {
    release_tree(tree_);
    tree_ = nullptr;
  } else if (built_ && !keep_tree(tree_)) {
    throw std::bad_alloc();
  }
  built_ = false;
}

}  // namespace tulm
