// A call whose memory runs out ends with the plug-in's out-of-memory message and leaves the
// host running. Each case runs in a child process whose address space is limited to what it
// uses plus a little, just as the plug-in is entered, so that the plug-in's first large
// allocation (scratch tables, outputs, k-d tree nodes) fails.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"
#include "valid_calls.h"

using mexhost::Array;

namespace {

// Why this build cannot starve a call, or null when it can.
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer reserves terabytes of address space, so a limit on it cannot work there.
constexpr const char* kCannotLimitMemory =
    "no address-space limit under AddressSanitizer: the release build runs this";
#elif defined(_WIN32)
constexpr const char* kCannotLimitMemory =
    "no fork and no address-space limit on Windows: the native Linux build runs this";
#else
constexpr const char* kCannotLimitMemory = nullptr;
#endif

struct StarvedCall {
  const char* name;
  int nlhs;
  std::vector<Array> (*inputs)();
  const char* message;
};

#if !defined(_WIN32)
constexpr long kHeadroom = 16 << 20;  // bytes the plug-in may still take

long address_space_in_use() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  statm >> pages;
  return pages * sysconf(_SC_PAGESIZE);
}

// In a process that has already run other tests, a starved call could be served from memory
// inside the limit: blocks the C library kept when they were freed, and the heaps it reserved
// for earlier tests' threads, into which it falls back when the main heap cannot grow. So the
// whole test program keeps one heap, into which no large block goes (else freed large blocks
// stay in it, mapped, for a starved call to take), and the child gives back what it kept.
#if defined(__GLIBC__)
[[maybe_unused]] const bool kOneHeap =
    mallopt(M_ARENA_MAX, 1) == 1 && mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;
#endif

void release_heap_reserve() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  malloc_trim(0);
#endif
}

// Whether a limit on the address space holds in this process: qemu-user, for one, accepts the
// limit and ignores it, as the emulator itself needs the memory. Tried in a child.
bool address_space_limit_holds() {
  const pid_t child = fork();
  if (child == 0) {
    const auto bytes = static_cast<rlim_t>(address_space_in_use() + kHeadroom);
    const rlimit limit{bytes, bytes};
    rlimit inForce{};
    const bool holds = setrlimit(RLIMIT_AS, &limit) == 0 && getrlimit(RLIMIT_AS, &inForce) == 0 &&
                       inForce.rlim_cur == limit.rlim_cur;
    _exit(holds ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs the call in a child under the limit and returns what it ended with ("(ok)" when it did
// not fail, "(crashed)" when the child died).
std::string run_starved(const StarvedCall& starved) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "(no pipe)";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    const std::vector<Array> inputs = starved.inputs();
    mexhost::plugin_available(starved.name);  // loaded before the limit
    static bool limited = false;
    mexhost::set_before_call([] {
      release_heap_reserve();
      const auto bytes = static_cast<rlim_t>(address_space_in_use() + kHeadroom);
      const rlimit limit{bytes, bytes};
      limited = setrlimit(RLIMIT_AS, &limit) == 0;
    });
    const auto result = mexhost::call(starved.name, starved.nlhs, inputs);
    // A limit the system refused would make the call succeed for a reason that is not ours.
    const std::string text = !limited        ? "(the address-space limit was refused)"
                             : result.failed ? result.error
                                             : "(ok)";
    if (write(pipeEnds[1], text.data(), text.size()) < 0) _exit(2);
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) text.append(buffer, got);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "(crashed)";
}
#endif

Array i32(int32_t value) { return mexhost::int32_scalar(value); }

// A mesh whose counts ask for far more memory than the arrays hold.
std::vector<Array> tetrahedron_on_many_vertices() {
  return {mexhost::int32_array({4, 3}, {1, 1, 1, 2, 2, 3, 4, 4, 3, 4, 2, 3}), i32(200000000)};
}

// numFaces copies of the face (1, 2, 3) on three vertices, in column form.
Array many_faces(size_t numFaces) {
  std::vector<int32_t> corners(3 * numFaces);
  for (size_t f = 0; f < numFaces; ++f) {
    corners[3 * f] = 1;
    corners[3 * f + 1] = 2;
    corners[3 * f + 2] = 3;
  }
  return mexhost::int32_array({3, numFaces}, corners);
}

const Array& three_vertices() {
  static const Array vertices = mexhost::single_array({3, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  return vertices;
}

constexpr size_t kMany = 5000000;

const StarvedCall kStarvedCalls[] = {
    {"TULM_convertFaces2VertNbors", 1, tetrahedron_on_many_vertices,
     "Out of memory building the neighbour table"},
    {"TULM_convertFaces2FacesOfVert", 1, tetrahedron_on_many_vertices,
     "Out of memory building the faces-of-vertex table"},
    {"TULM_findNeighborhoodGivenRadius", 1,
     [] {
       return std::vector<Array>{i32(0), i32(200000000), i32(1), i32(1),
                                 mexhost::int32_array({0, 200000000})};
     },
     "Out of memory finding the neighbourhood"},
    {"TULM_computeMeshFaceAreas", 1,
     [] {
       return std::vector<Array>{i32(kMany), many_faces(kMany), three_vertices()};
     },
     "Out of memory computing the face areas"},
    {"TULM_gaussianSmoothVertexData", 1,
     [] {
       return std::vector<Array>{mexhost::single_array({3, 1}), mexhost::int32_array({0, 1}),
                                 mexhost::single_array({kMany, 1}), mexhost::double_scalar(1)};
     },
     "Memory allocation error!"},
    {"TULM_findFaceAux", 2,
     [] {
       return std::vector<Array>{
           mexhost::single_array({3, 0}),    mexhost::single_array({3, kMany}),
           mexhost::int32_array({3, 0}),     mexhost::int32_array({0, kMany}),
           mexhost::int32_array({0, kMany}), mexhost::int32_array({1, 0})};
     },
     "Ran out of memory!"},
    {"TULM_findNearestVertex", 2,
     [] {
       return std::vector<Array>{mexhost::single_array({3, kMany}), three_vertices(),
                                 mexhost::int32_array({0, 3}), mexhost::int32_array({1, kMany})};
     },
     "Out of memory finding nearest vertices"},
    {"TULM_computeLocalFoldPenaltyGrad", 3,
     [] {
       return std::vector<Array>{three_vertices(), many_faces(kMany), mexhost::int32_array({0, 3}),
                                 mexhost::int32_array({0, 1}), mexhost::double_scalar(0)};
     },
     "Memory allocation error!"},
    {"nearestIndexSearch", 1,
     [] {
       std::vector<double> points(2 * 1000000);
       for (size_t k = 0; k < points.size(); ++k) points[k] = static_cast<double>(k % 977);
       return std::vector<Array>{mexhost::double_array({1000000, 2}, points),
                                 mexhost::double_array({1, 2})};
     },
     "Not enough free memory to build k-D tree\n"},
};

TEST(OutOfMemory, EndsTheCallWithTheMessage) {
  if (kCannotLimitMemory != nullptr) GTEST_SKIP() << kCannotLimitMemory;
#if !defined(_WIN32)
  if (!address_space_limit_holds())
    GTEST_SKIP() << "an address-space limit does not hold here (qemu-user ignores it): the "
                    "native builds run this";
  for (const StarvedCall& starved : kStarvedCalls) {
    EXPECT_EQ(run_starved(starved), starved.message) << starved.name;
  }
#endif
}

}  // namespace
