// Ctrl-C: a long call ends soon after the user asks, having released everything it took.
//
// The host side (a gateway, the stand-in host, a binding) registers at the start of each call,
// on the calling thread, how to ask its host whether the user has pressed Ctrl-C. Routines
// whose work can pass a tenth of a second call poll_interrupt() at least every few
// milliseconds of work, and parallel_for polls before each piece. A poll on the calling thread
// asks the host (a host may be asked from its own thread only; MATLAB crashes otherwise); a
// poll on any thread reads the call's stop flag, which the calling thread sets once the host
// says yes. Either way the poll then throws Interrupted, which unwinds the routine as an error
// does: scratch memory goes with it, no output is handed back, parallel_for lets every running
// piece end and rethrows it on the calling thread, and a k-d tree being built is released.
// The gateway then ends the call the way its host ends an interrupted built-in.
#ifndef TULM_CORE_INTERRUPT_H
#define TULM_CORE_INTERRUPT_H

#include <cstdint>
#include <exception>

namespace tulm {

class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "interrupted"; }
};

// Makes `pending` the question that polls on the calling thread ask the host, from now on,
// and clears the stop flag. Null: no host to ask; polls then only read the flag.
void set_interrupt_query(bool (*pending)());

// Whether the call is to stop: the stop flag, or, on the thread that registered the query,
// the host's answer (which sets the flag).
bool interrupt_requested();

// Throws Interrupted when interrupt_requested().
inline void poll_interrupt() {
  if (interrupt_requested()) throw Interrupted();
}

// Polls once `budget` units of work have been added since the last poll: for loops whose steps
// differ widely in cost. `poll` is poll_interrupt, or the poll a module is handed by its caller
// where it must not ask its own (the k-d tree library, kdtree.h).
class PollMeter {
 public:
  explicit PollMeter(int64_t budget, void (*poll)() = poll_interrupt)
      : budget_(budget), poll_(poll) {}
  void add(int64_t work) {
    done_ += work;
    if (done_ >= budget_) {
      done_ = 0;
      poll_();
    }
  }

 private:
  int64_t budget_;
  void (*poll_)();
  int64_t done_ = 0;
};

// Runs body(b, e) on consecutive blocks [b, e) of at most `block` elements that cover
// [begin, end), polling before each: for loops whose range may take longer than a few
// milliseconds.
template <class Body>
void in_polled_blocks(int32_t begin, int32_t end, int32_t block, Body&& body) {
  while (begin < end) {
    poll_interrupt();
    const int32_t next = end - begin > block ? begin + block : end;
    body(begin, next);
    begin = next;
  }
}

}  // namespace tulm

#endif  // TULM_CORE_INTERRUPT_H
