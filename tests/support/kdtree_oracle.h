// Slow, independent answers for the k-d tree tests: the rows of a tree in pre-order,
// brute-force nearest points with the tie rule, brute-force radius searches. Nothing here
// calls the toolbox.
#ifndef TULM_TESTS_UNIT_KDTREE_ORACLE_H
#define TULM_TESTS_UNIT_KDTREE_ORACLE_H

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace tulm_test {

// M points of N coordinates, column-major (coordinate d of row p at p + d*M).
struct Cloud {
  int32_t M = 0;
  int32_t N = 0;
  std::vector<double> xyz;
  double at(int32_t row, int32_t d) const { return xyz[row + static_cast<size_t>(d) * M]; }
  std::vector<double> row(int32_t p) const {
    std::vector<double> point(static_cast<size_t>(N));
    for (int32_t d = 0; d < N; ++d) point[d] = at(p, d);
    return point;
  }
};

// Integer coordinates in 0..range-1 (range > 0: many ties) or uniform in [0, 1) (range 0).
inline Cloud random_cloud(int32_t M, int32_t N, int range, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> integer(0, range > 0 ? range - 1 : 0);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Cloud cloud{M, N, std::vector<double>(static_cast<size_t>(M) * N)};
  for (double& x : cloud.xyz) x = range > 0 ? integer(random) : uniform(random);
  return cloud;
}

// A cloud that a parameterised test runs on, named after what it holds.
struct CloudCase {
  const char* name;
  int32_t M;
  int32_t N;
  int range;  // integer coordinates 0..range-1, or 0 for continuous ones
};

// The tree's rows in pre-order: each slice sorted by Hoare's scheme with its first entry as
// pivot, its middle entry the node, the entries before and after it the two subtrees.
class PreorderOracle {
 public:
  explicit PreorderOracle(const Cloud& cloud) : cloud_(cloud) {
    std::vector<int32_t> rows(static_cast<size_t>(cloud.M));
    for (int32_t p = 0; p < cloud.M; ++p) rows[p] = p;
    if (cloud.M > 0) visit(rows, 0);
    rank_.assign(rows.size(), -1);
    for (size_t k = 0; k < order_.size(); ++k) rank_[order_[k]] = static_cast<int32_t>(k);
  }
  const std::vector<int32_t>& order() const { return order_; }
  int32_t rank(int32_t row) const { return rank_[row]; }

 private:
  void sort(std::vector<int32_t>& rows, int lo, int hi, int d) {
    if (lo >= hi) return;
    const double pivot = cloud_.at(rows[lo], d);
    int i = lo - 1;
    int j = hi + 1;
    while (true) {
      do --j;
      while (cloud_.at(rows[j], d) > pivot);
      do ++i;
      while (cloud_.at(rows[i], d) < pivot);
      if (j <= i) break;
      std::swap(rows[i], rows[j]);
    }
    sort(rows, lo, j, d);
    sort(rows, j + 1, hi, d);
  }

  void visit(std::vector<int32_t> rows, int d) {
    sort(rows, 0, static_cast<int>(rows.size()) - 1, d);
    const size_t m = rows.size() / 2;
    order_.push_back(rows[m]);
    const int next = (d + 1) % cloud_.N;
    if (m > 0) visit(std::vector<int32_t>(rows.begin(), rows.begin() + m), next);
    if (m + 1 < rows.size()) visit(std::vector<int32_t>(rows.begin() + m + 1, rows.end()), next);
  }

  const Cloud& cloud_;
  std::vector<int32_t> order_;
  std::vector<int32_t> rank_;
};

inline double distance(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0.0;
  for (size_t k = 0; k < a.size(); ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return std::sqrt(sum);
}

struct Nearest {
  int32_t row;  // 0-based
  double distance;
};

// The nearest row; among rows at the same smallest distance, the latest in pre-order.
inline Nearest brute_nearest(const Cloud& cloud, const PreorderOracle& tree,
                             const std::vector<double>& q) {
  Nearest best{-1, INFINITY};
  for (int32_t p = 0; p < cloud.M; ++p) {
    const double d = distance(cloud.row(p), q);
    if (d < best.distance || (d == best.distance && tree.rank(p) > tree.rank(best.row))) {
      best = {p, d};
    }
  }
  return best;
}

// Rows within r of q, in pre-order.
inline std::vector<int32_t> brute_within(const Cloud& cloud, const PreorderOracle& tree,
                                         const std::vector<double>& q, double r) {
  std::vector<int32_t> rows;
  for (int32_t p : tree.order()) {
    if (distance(cloud.row(p), q) <= r) rows.push_back(p);
  }
  return rows;
}

}  // namespace tulm_test

#endif  // TULM_TESTS_UNIT_KDTREE_ORACLE_H
