// The threads of one call: how many it may use, and a loop that shares [0, n) among them.
//
// Only the calling thread reads the settings, calls the host's limit and starts or joins
// threads; the loop's body runs on every thread and so must not call the host (no mx*, no
// mex*) nor write anything another range writes. Outputs then depend only on each range's
// own work, never on the thread count or on which thread ran a range.
//
// The threads besides the calling one are workers of a pool that this module keeps between
// calls: started the first time a loop wants them, sleeping between loops. A loop reached from
// inside another loop's body runs on the thread that reached it alone, and a loop started
// while another thread's loop holds the pool runs on its calling thread alone.
#ifndef TULM_CORE_PARALLEL_H
#define TULM_CORE_PARALLEL_H

#include <atomic>
#include <climits>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "core/interrupt.h"

namespace tulm {

// The threads a large call may use, at least 1: 1 while a loop runs, else the count given
// to set_thread_count when it is positive, else TULM_NUM_THREADS when it holds a positive
// integer (at most kMaxThreadCount counts), else the host's limit when the gateway registered
// one and it is positive, else the processor count.
int thread_count();

constexpr int kMaxThreadCount = 256;

// A piece of parallel_for holds at most this many grains, and every piece starts with a poll
// for Ctrl-C (interrupt.h): with a grain's work under a millisecond, as every routine's grain
// is, a loop polls every few milliseconds on any number of threads.
constexpr int32_t kGrainsPerPoll = 8;

// Every later call uses `count` threads, whatever the environment and the host say; 0 goes
// back to the rules of thread_count. For tests and benchmarks.
void set_thread_count(int count);

// The host's thread limit, asked for on the calling thread only when a call is large enough
// to use threads; a value below 1 means no limit. The gateway registers it (MATLAB's
// maxNumCompThreads); null forgets it.
void set_host_thread_limit(int (*limit)());

// The threads a call of n elements uses, where `grain` elements pay for starting a thread: 1
// when n is below two grains, else thread_count() but no more than n / grain.
int threads_for(int32_t n, int32_t grain);

// Called on the calling thread when the pool starts its first worker, again after stop_pool.
// The gateway registers stop_pool there with the host, to be called before the host unloads
// the plug-in; null forgets it.
void set_pool_start_hook(void (*hook)());

// Joins the pool's workers; the next loop that wants threads starts them again. The code of a
// plug-in must not be unmapped under its workers: the host calls this before unloading it
// (mexAtExit). Nothing while a loop runs.
void stop_pool();

namespace detail {

using RangeBody = void (*)(void* body, int32_t begin, int32_t end);

// kGrainsPerPoll grains, at least 1.
inline int32_t largest_piece(int32_t grain) {
  return grain < 1 ? 1 : grain > INT32_MAX / kGrainsPerPoll ? INT32_MAX : grain * kGrainsPerPoll;
}

// Runs body on pieces of [0, n) of at most largestPiece elements with up to `threads` threads,
// the calling thread among them.
void run_in_pieces(int32_t n, int threads, int32_t largestPiece, RangeBody run, void* body);

using LeadBody = void (*)(void* lead);
using HelpBody = void (*)(void* help, const std::atomic<bool>& leadEnded);

// Runs lead on the calling thread and help on `helpers` workers.
void run_beside(int helpers, LeadBody runLead, void* lead, HelpBody runHelp, void* help);

}  // namespace detail

// Calls body(begin, end) on contiguous ranges that together cover [0, n) once each; nothing
// when n <= 0. `grain` is the least count of elements whose work pays for starting one more
// thread: below two grains the whole range runs at once on the calling thread, after a poll.
// Otherwise the range is cut into pieces, about eight per thread but no more than
// kGrainsPerPoll grains each, that the calling thread and its workers take in increasing order
// as each finishes the last, polling before each, so a worker that wakes late takes fewer, and
// one that has not woken when the calling thread runs out of pieces takes none and is not
// waited for. On one thread the pieces run in order on the calling thread. When a piece throws
// (Interrupted among others), no new piece starts; after every running piece ends, the
// exception of the lowest piece that threw is rethrown on the calling thread: the one a
// single thread would have met first.
template <class Body>
void parallel_for(int32_t n, int32_t grain, Body&& body) {
  if (n <= 0) return;
  const int32_t largestPiece = detail::largest_piece(grain);
  const int threads = threads_for(n, grain);
  if (threads <= 1) {
    in_polled_blocks(int32_t{0}, n, largestPiece, body);
    return;
  }
  using BodyType = std::remove_reference_t<Body>;
  const detail::RangeBody run = [](void* b, int32_t begin, int32_t end) {
    (*static_cast<BodyType*>(b))(begin, end);
  };
  detail::run_in_pieces(n, threads, largestPiece, run,
                        const_cast<void*>(static_cast<const void*>(&body)));
}

// Calls lead() on the calling thread while help(leadEnded) runs on threads - 1 more threads (a
// count from threads_for; fewer when the system gives no more), and returns once every one
// has returned; lead's exception, if it throws, is rethrown after that. For work that one thread
// must take in order (an order-fixed sum) while the others prepare its parts: lead must finish the
// work alone whatever the helpers do, so it never waits for one. help must not throw, must not call
// the host, and must return soon after leadEnded turns true.
template <class Lead, class Help>
void run_beside(int threads, Lead&& lead, Help&& help) {
  using LeadType = std::remove_reference_t<Lead>;
  using HelpType = std::remove_reference_t<Help>;
  const detail::LeadBody runLead = [](void* l) { (*static_cast<LeadType*>(l))(); };
  const detail::HelpBody runHelp = [](void* h, const std::atomic<bool>& leadEnded) {
    (*static_cast<HelpType*>(h))(leadEnded);
  };
  if (threads <= 1) {
    lead();
    return;
  }
  detail::run_beside(threads - 1, runLead, const_cast<void*>(static_cast<const void*>(&lead)),
                     runHelp, const_cast<void*>(static_cast<const void*>(&help)));
}

}  // namespace tulm

#endif  // TULM_CORE_PARALLEL_H
