#include "core/location/TULM_findFaceAux.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/interrupt.h"
#include "core/location/nearest_neighbour.h"
#include "core/location/vector_geometry.h"
#include "core/mesh_arrays.h"
#include "core/parallel.h"
#include "core/portability.h"
#include "core/zeroed_array.h"

namespace tulm {
namespace {

constexpr double kReferenceVertexCount = 163842.0;  // the icosahedron subdivided seven times
constexpr double kExactSeedDistance = 1e-5;
constexpr float kInitialTolerance = -0.0001f;
constexpr float kLoosening = 10.0f;
constexpr int32_t kVisitLimit = 100000;
// Visits between two polls for Ctrl-C while one point is located: a fraction of a millisecond.
// (parallel_for polls between pieces of points, each point but a lost one being quick.)
constexpr int32_t kVisitsPerPoll = 4096;

// The mesh, the point being located and the walk's scratch tables. The tables are sized once
// per walk and cleared through the entered and tested lists, so a point costs time in
// proportion to the part of the mesh it touched; they come zero-filled from calloc, so their
// pages cost nothing until a walk reaches them.
class Walk {
 public:
  Walk(const float* vertices, int32_t V, const int32_t* faces, int32_t F,
       const int32_t* vertexNbors, int32_t Kn, const int32_t* VertexFaces, int32_t Kf)
      : vertices_(vertices),
        V_(V),
        faces_(faces),
        F_(F),
        vertexNbors_(vertexNbors),
        Kn_(Kn),
        VertexFaces_(VertexFaces),
        Kf_(Kf),
        vertexMark_(V),
        faceMark_(F),
        parentPlusOne_(V),
        entered_(V),
        tested_(F) {}

  // Where the warnings of the points located next go.
  void set_diagnostics(Diagnostics* diagnostics) { diagnostics_ = diagnostics; }

  const float* vertex(int32_t v) const { return vertices_ + 3 * v; }

  // Asks the memory system early for what the walk of a coming point will read first: its
  // seed's faces-of-vertex column, then those faces' corners, then the corners' coordinates,
  // each stage from data an earlier stage fetched. On large meshes the walk otherwise waits
  // on these reads; results do not depend on it. Entries out of range are left alone (the
  // walk reports them when it reads them).
  void prefetch_column(int32_t seed) const {
    if (seed < 1 || seed > V_ || Kf_ == 0) return;
    TULM_PREFETCH(VertexFaces_ + index_2D_array(0, seed - 1, Kf_));
    TULM_PREFETCH(vertex(seed - 1));
  }
  void prefetch_faces(int32_t seed) const {
    if (seed < 1 || seed > V_) return;
    for (int32_t k = 0; k < Kf_; ++k) {
      const int32_t entry = VertexFaces_[index_2D_array(k, seed - 1, Kf_)];
      if (entry < 1 || entry > F_) break;
      TULM_PREFETCH(faces_ + 3 * (entry - 1));
    }
  }
  void prefetch_corners(int32_t seed) const {
    if (seed < 1 || seed > V_) return;
    for (int32_t k = 0; k < Kf_; ++k) {
      const int32_t entry = VertexFaces_[index_2D_array(k, seed - 1, Kf_)];
      if (entry < 1 || entry > F_) break;
      const int32_t* corners = faces_ + 3 * (entry - 1);
      for (int32_t j = 0; j < 3; ++j) {
        if (corners[j] >= 1 && corners[j] <= V_) TULM_PREFETCH(vertex(corners[j] - 1));
      }
    }
  }

  // The seed's first listed face as stored; 0 when its list is empty.
  int32_t first_face(int32_t seed) const {
    return Kf_ > 0 ? VertexFaces_[index_2D_array(0, seed, Kf_)] : 0;
  }

  void enter(int32_t v) {
    vertexMark_[v] = 1;
    entered_[numEntered_++] = v;
  }

  int32_t num_entered() const { return numEntered_; }
  int32_t parent(int32_t v) const { return parentPlusOne_[v] - 1; }
  void set_parent(int32_t v, int32_t from) { parentPlusOne_[v] = from + 1; }

  void clear() {
    for (int32_t k = 0; k < numEntered_; ++k) {
      vertexMark_[entered_[k]] = 0;
      parentPlusOne_[entered_[k]] = 0;
    }
    for (int32_t k = 0; k < numTested_; ++k) faceMark_[tested_[k]] = 0;
    numEntered_ = 0;
    numTested_ = 0;
  }

  // Tests the untested faces around cur in list order; the first face that holds the
  // projection of p ends the scan. Returns its 0-based index (or -1) and its stored corners.
  int32_t scan_faces(const float* p, int32_t cur, float tolerance, int32_t corners[3],
                     int32_t& first) {
    for (int32_t k = 0; k < Kf_; ++k) {
      const int32_t entry = VertexFaces_[index_2D_array(k, cur, Kf_)];
      if (entry == 0) break;
      check_index("VertexFaces", entry, k, cur, 0, F_);
      const int32_t f = entry - 1;
      if (faceMark_[f]) continue;
      faceMark_[f] = 1;
      tested_[numTested_++] = f;
      const int32_t* stored = faces_ + 3 * f;
      for (int32_t j = 0; j < 3; ++j) check_index("faces", stored[j], j, f, 1, V_);
      const int32_t i0 = stored[0], i1 = stored[1], i2 = stored[2];
      int32_t a = i0, b = i1, c = i2;
      if (i1 == cur + 1) {
        a = i1, b = i0, c = i2;
      } else if (i2 == cur + 1) {
        a = i2, b = i1, c = i0;
      }
      const float* A = vertex(a - 1);
      const float* B = vertex(b - 1);
      const float* C = vertex(c - 1);
      float q[3];
      projectPoint(p, A, B, C, q, *diagnostics_);
      if (isOnSameSide(q, A, B, C, tolerance) && isOnSameSide(q, B, C, A, tolerance) &&
          isOnSameSide(q, C, A, B, tolerance)) {
        corners[0] = i0, corners[1] = i1, corners[2] = i2;
        first = a - 1;
        return f;
      }
    }
    return -1;
  }

  // The unentered neighbour of cur nearest to p, if it lies within the squared search radius;
  // -1 otherwise. Ties keep the earlier entry.
  int32_t nearest_neighbour(const float* p, int32_t cur, double squaredSearchRadius) const {
    float best;
    const int32_t kept = nearest_listed_neighbour(
        p, vertices_, V_, vertexNbors_, Kn_, cur, [this](int32_t n) { return vertexMark_[n] != 0; },
        best);
    return kept >= 0 && static_cast<double>(best) <= squaredSearchRadius ? kept : -1;
  }

 private:
  const float* vertices_;
  int32_t V_;
  const int32_t* faces_;
  int32_t F_;
  const int32_t* vertexNbors_;
  int32_t Kn_;
  const int32_t* VertexFaces_;
  int32_t Kf_;
  Diagnostics* diagnostics_ = nullptr;
  ZeroedArray<uint8_t> vertexMark_;
  ZeroedArray<uint8_t> faceMark_;
  ZeroedArray<int32_t> parentPlusOne_;  // 0: no parent
  ZeroedArray<int32_t> entered_;
  ZeroedArray<int32_t> tested_;
  int32_t numEntered_ = 0;
  int32_t numTested_ = 0;
};

// The corner of the found face nearest to p, 1-based, in stored order: ties keep the
// earlier corner.
int32_t nearest_corner(const float* p, const Walk& walk, const int32_t corners[3]) {
  const float d0 = squared_distance(p, walk.vertex(corners[0] - 1));
  const float d1 = squared_distance(p, walk.vertex(corners[1] - 1));
  const float d2 = squared_distance(p, walk.vertex(corners[2] - 1));
  int32_t result = corners[0];
  float best = d0;
  if (d0 > d1) {
    result = corners[1];
    best = d1;
  }
  if (best > d2) result = corners[2];
  return result;
}

// The radius of the ball the walks stay in (R/4 * (163842/V)^(1/4)) and its square, as the
// walk compares them.
struct SearchBall {
  double radius;
  double squaredRadius;
};

// What workers print and warn, kept with the point that gave rise to it until the calling
// thread hands it to the host in point order.
class PointMessages : public Diagnostics {
 public:
  struct Message {
    int32_t point;
    bool warning;
    std::string text;
  };

  void print(const std::string& text) override { keep(false, text); }
  void warn(const std::string& text) override { keep(true, text); }

  // Appends this worker's messages to `all`, in the order they came.
  void hand_on(std::vector<Message>& all, std::mutex& mutex) {
    if (messages_.empty()) return;
    const std::lock_guard<std::mutex> lock(mutex);
    all.insert(all.end(), messages_.begin(), messages_.end());
  }

  int32_t point = 0;  // the point being located

 private:
  void keep(bool warning, const std::string& text) { messages_.push_back({point, warning, text}); }

  std::vector<Message> messages_;
};

// The messages of the points up to `last`, in point order, as one thread would have given them.
void replay(std::vector<PointMessages::Message>& all, int32_t last, Diagnostics& diagnostics) {
  std::stable_sort(all.begin(), all.end(),
                   [](const PointMessages::Message& a, const PointMessages::Message& b) {
                     return a.point < b.point;
                   });
  for (const PointMessages::Message& message : all) {
    if (message.point > last) break;
    if (message.warning) {
      diagnostics.warn(message.text);
    } else {
      diagnostics.print(message.text);
    }
  }
}

// Locates points begin .. end - 1 (see TULM_findFaces), adding to report.
void locate_points(Walk& walk, const float* points, int32_t begin, int32_t end, int32_t V,
                   const int32_t* seedVertices, const SearchBall& ball, int32_t* faceOut,
                   int32_t* vertexOut, PointMessages& messages, FindFacesReport& report) {
  const double searchRadius = ball.radius;
  const double squaredSearchRadius = ball.squaredRadius;
  constexpr int32_t kAhead = 8;  // points between the stages of prefetching
  for (int32_t i = begin; i < end; ++i) {
    messages.point = i;
    if (i + 3 * kAhead < end) walk.prefetch_column(seedVertices[i + 3 * kAhead]);
    if (i + 2 * kAhead < end) walk.prefetch_faces(seedVertices[i + 2 * kAhead]);
    if (i + kAhead < end) walk.prefetch_corners(seedVertices[i + kAhead]);
    const float* p = points + 3 * i;
    check_index("seedVertices", seedVertices[i], 0, i, 1, V);
    const int32_t seed = seedVertices[i] - 1;
    if (static_cast<double>(distanceVector(p, walk.vertex(seed))) < kExactSeedDistance) {
      faceOut[i] = walk.first_face(seed);
      if (vertexOut) vertexOut[i] = seed + 1;
      continue;
    }

    walk.set_parent(seed, -1);
    float tolerance = kInitialTolerance;
    int32_t visits = 0;
    int32_t cur = seed;
    const int64_t restartsBefore = report.restarts;
    const auto restartFromSeed = [&] {
      walk.clear();
      tolerance = tolerance * kLoosening;
      walk.set_parent(seed, -1);
      cur = seed;
      ++report.restarts;
    };
    bool located = false;
    while (true) {
      if (++visits % kVisitsPerPoll == 0) poll_interrupt();
      walk.enter(cur);
      int32_t corners[3];
      int32_t first = -1;
      const int32_t f = walk.scan_faces(p, cur, tolerance, corners, first);
      if (f >= 0) {
        if (static_cast<double>(distanceVector(p, walk.vertex(first))) > searchRadius) {
          // Too far: go on from the seed's neighbours; the seed itself is not entered again.
          restartFromSeed();
        } else {
          if (visits < kVisitLimit) {
            faceOut[i] = f + 1;
            if (vertexOut) vertexOut[i] = nearest_corner(p, walk, corners);
            located = true;
          }
          break;
        }
      }
      // Neighbour step, backing up along the parents while there is nowhere to go. A run of
      // back-ups longer than the vertices that have parents can only be going round a loop
      // through the seed (possible after a too-far restart), which would never end.
      int32_t candidate = walk.nearest_neighbour(p, cur, squaredSearchRadius);
      int32_t backups = 0;
      while (candidate < 0) {
        cur = walk.parent(cur);
        if (cur < 0 || ++backups > walk.num_entered() + 1) break;
        candidate = walk.nearest_neighbour(p, cur, squaredSearchRadius);
      }
      if (candidate < 0) {
        restartFromSeed();
        if (visits >= kVisitLimit) break;
        continue;
      }
      if (visits >= kVisitLimit) break;
      walk.set_parent(candidate, cur);
      cur = candidate;
    }
    if (!located) {
      ++report.failedPoints;
      faceOut[i] = walk.first_face(seed);
      if (vertexOut) vertexOut[i] = seed + 1;
    }
    walk.clear();
    report.entries += visits;
    if (report.restarts > restartsBefore) ++report.restartedPoints;
  }
}

// The walks of one call: each piece of points borrows one, so a call makes no more walks than
// it has threads, and a thread's scratch pages are touched once.
class WalkPool {
 public:
  // The first walk is made at once, on the calling thread, whatever the number of points: a
  // mesh too large for the scratch tables ends the call even when it has no points to locate.
  explicit WalkPool(std::function<std::unique_ptr<Walk>()> make) : make_(std::move(make)) {
    free_.reserve(kMaxThreadCount);
    free_.push_back(make_());
  }

  std::unique_ptr<Walk> take() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<Walk> walk = std::move(free_.back());
        free_.pop_back();
        return walk;
      }
    }
    return make_();
  }

  void give_back(std::unique_ptr<Walk> walk) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (free_.size() < free_.capacity()) free_.push_back(std::move(walk));
  }

 private:
  std::function<std::unique_ptr<Walk>()> make_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Walk>> free_;
};

// Points whose location takes about as long as starting a thread.
constexpr int32_t kPointGrain = 1024;

}  // namespace

FindFacesReport TULM_findFaces(const float* points, int32_t N, const float* vertices, int32_t V,
                               const int32_t* faces, int32_t F, const int32_t* vertexNbors,
                               int32_t Kn, const int32_t* VertexFaces, int32_t Kf,
                               const int32_t* seedVertices, int32_t* faceOut, int32_t* vertexOut,
                               Diagnostics& diagnostics) {
  const float R = V > 0 ? magnitudeVector(vertices) : 0.0f;
  const float h = 0.25f * R;
  const double s = std::sqrt(kReferenceVertexCount / static_cast<double>(V));
  const double searchRadius = std::sqrt(s) * static_cast<double>(h);
  const float hh = h * h;
  const SearchBall ball{searchRadius, s * static_cast<double>(hh)};

  // Points are shared among threads in ranges; no worker calls the host: their messages wait,
  // with their points, for the calling thread. A worker that meets a bad entry ends the call
  // with its message once the messages of the points before it are out.
  WalkPool walks([=] {
    return std::make_unique<Walk>(vertices, V, faces, F, vertexNbors, Kn, VertexFaces, Kf);
  });
  FindFacesReport report;
  std::vector<PointMessages::Message> messages;
  std::mutex mutex;
  std::atomic<int32_t> failedPoint{N};
  try {
    parallel_for(N, kPointGrain, [&](int32_t begin, int32_t end) {
      std::unique_ptr<Walk> walk = walks.take();
      PointMessages pieceMessages;
      walk->set_diagnostics(&pieceMessages);
      FindFacesReport piece;
      try {
        locate_points(*walk, points, begin, end, V, seedVertices, ball, faceOut, vertexOut,
                      pieceMessages, piece);
      } catch (...) {
        int32_t failed = failedPoint.load();
        while (pieceMessages.point < failed &&
               !failedPoint.compare_exchange_weak(failed, pieceMessages.point)) {
        }
        pieceMessages.hand_on(messages, mutex);
        walk->clear();
        walks.give_back(std::move(walk));
        throw;
      }
      pieceMessages.hand_on(messages, mutex);
      walks.give_back(std::move(walk));
      const std::lock_guard<std::mutex> lock(mutex);
      report.failedPoints += piece.failedPoints;
      report.restartedPoints += piece.restartedPoints;
      report.restarts += piece.restarts;
      report.entries += piece.entries;
    });
  } catch (...) {
    replay(messages, failedPoint.load(), diagnostics);
    throw;
  }
  replay(messages, N, diagnostics);
  if (report.failedPoints > 0) {
    diagnostics.print(
        format("%i number of vertices exceed the max number of trials\n", report.failedPoints));
  }
  return report;
}

}  // namespace tulm
