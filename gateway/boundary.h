// The error boundary of every plug-in.
//
// How MATLAB unwinds from mexErrMsgTxt is undocumented (a long jump that skips C++
// destructors is commonly reported), Octave throws a C++ exception, and a C++ exception that
// escapes mexFunction crashes MATLAB. So a gateway's body runs inside run_gateway: whatever
// the body throws is caught here, every local object of the body is destroyed, the text is
// copied to a fixed buffer, and only then is the host's error raised.
//
// It also tells the core routines how many threads the host allows (core/parallel.h) and how
// to ask the host whether the user pressed Ctrl-C (core/interrupt.h), has the host join the
// plug-in's threads before unloading it, and ends an interrupted call as the host ends an
// interrupted built-in:
// - Octave: Octave's own interrupt is raised (octave_quit, which throws
//   octave::interrupt_exception) once every frame of ours has unwound, so the script stops as
//   on a built-in's Ctrl-C, and a try/catch in the script does not catch it.
// - MATLAB: utIsInterruptPending (libut, asked on MATLAB's thread only: from another it
//   crashes) tells that Ctrl-C is pending; the call then ends with an error through
//   mexErrMsgIdAndTxt, which returns to the prompt; the interrupt stays pending for MATLAB.
//   Not run on our machines, which have no MATLAB; the stand-in host (mexhost) behaves so.
#ifndef TULM_GATEWAY_BOUNDARY_H
#define TULM_GATEWAY_BOUNDARY_H

#include <mex.h>

#include <cstring>
#include <exception>
#include <new>

#include "core/errors.h"
#include "core/interrupt.h"
#include "core/parallel.h"

#if defined(HAVE_OCTAVE)
#include <octave/quit.h>
#else
// MATLAB's (libut) and the stand-in host's; in no header of MATLAB's.
extern "C" bool utIsInterruptPending(void);
#endif

namespace tulm {

// The identifier and text of the error that ends an interrupted call, where the host ends it
// with an error (MATLAB, the stand-in host).
const char* const kInterruptedId = "TULM:interrupted";
const char* const kInterruptedText = "Interrupted by Ctrl-C";

#if defined(HAVE_OCTAVE)
// Ctrl-C pending: Octave's signal handler counts it.
inline bool host_interrupt_pending() { return octave_interrupt_state > 0; }

[[noreturn]] inline void end_interrupted_call() {
  octave_quit();
  // The interrupt was no longer pending to octave_quit: end the call as it would have.
  octave_interrupt_state = -1;
  throw octave::interrupt_exception();
}
#else
inline bool host_interrupt_pending() { return utIsInterruptPending(); }

[[noreturn]] inline void end_interrupted_call() {
  mexErrMsgIdAndTxt(kInterruptedId, kInterruptedText);
  throw Interrupted();  // not reached: mexErrMsgIdAndTxt does not return
}
#endif

#if defined(MATLAB_MEX_FILE)
// MATLAB's maxNumCompThreads (1 in a parallel pool's workers), asked for on the calling
// thread; 0, no limit, when MATLAB cannot tell.
inline int matlab_thread_limit() {
  mxArray* limit = nullptr;
  mxArray* failure = mexCallMATLABWithTrap(1, &limit, 0, nullptr, "maxNumCompThreads");
  if (failure != nullptr) {
    mxDestroyArray(failure);
    return 0;
  }
  const double value = mxGetScalar(limit);
  mxDestroyArray(limit);
  return value >= 1 && value <= kMaxThreadCount ? static_cast<int>(value) : 0;
}
#endif

// MATLAB and Octave call the function given to mexAtExit before they unload the plug-in
// (clear, exit), outside any loader lock: the workers that run the plug-in's code must be
// joined by then. Registered on the calling thread when the plug-in's pool starts.
inline void register_pool_stop() { mexAtExit(&stop_pool); }

// Runs body(); ends the call with the text of anything it throws. std::bad_alloc becomes
// the deliverable's own out-of-memory text.
template <class Body>
void run_gateway(const char* out_of_memory_message, Body&& body) {
  char message[1024];
  const auto keep = [&message](const char* text) {
    std::strncpy(message, text, sizeof message - 1);
    message[sizeof message - 1] = '\0';
  };
#if defined(MATLAB_MEX_FILE)
  set_host_thread_limit(&matlab_thread_limit);
#endif
  set_pool_start_hook(&register_pool_stop);
  set_interrupt_query(&host_interrupt_pending);
  bool interrupted = false;
  try {
    body();
    return;
  } catch (const Interrupted&) {
    interrupted = true;
#if defined(HAVE_OCTAVE)
  } catch (const octave::interrupt_exception&) {
    // Octave's own, should a call into the interpreter (zeros_array) meet the Ctrl-C first.
    interrupted = true;
#endif
  } catch (const Error& error) {
    keep(error.what());
  } catch (const std::bad_alloc&) {
    keep(out_of_memory_message);
  } catch (const std::exception& error) {
    keep(error.what());
  } catch (...) {
    keep("Unexpected internal failure");
  }
  if (interrupted) end_interrupted_call();
  mexErrMsgTxt(message);
}

}  // namespace tulm

#endif  // TULM_GATEWAY_BOUNDARY_H
