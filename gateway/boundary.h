// The error boundary of every plug-in.
//
// How MATLAB unwinds from mexErrMsgTxt is undocumented (a long jump that skips C++
// destructors is commonly reported), Octave throws a C++ exception, and a C++ exception that
// escapes mexFunction crashes MATLAB. So a gateway's body runs inside run_gateway: whatever
// the body throws is caught here, every local object of the body is destroyed, the text is
// copied to a fixed buffer, and only then is the host's error raised.
//
// It also tells the core routines how many threads the host allows (core/parallel.h), and has
// the host join the plug-in's threads before unloading it.
#ifndef TULM_GATEWAY_BOUNDARY_H
#define TULM_GATEWAY_BOUNDARY_H

#include <mex.h>

#include <cstring>
#include <exception>
#include <new>

#include "core/errors.h"
#include "core/parallel.h"

namespace tulm {

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
  try {
    body();
    return;
  } catch (const Error& error) {
    keep(error.what());
  } catch (const std::bad_alloc&) {
    keep(out_of_memory_message);
  } catch (const std::exception& error) {
    keep(error.what());
  } catch (...) {
    keep("Unexpected internal failure");
  }
  mexErrMsgTxt(message);
}

}  // namespace tulm

#endif  // TULM_GATEWAY_BOUNDARY_H
