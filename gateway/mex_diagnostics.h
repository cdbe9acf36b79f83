// Connects the core routines' diagnostics to the host: printed lines through mexPrintf,
// flushed at once so they show while a long call runs; warnings through mexWarnMsgTxt.
#ifndef TULM_GATEWAY_MEX_DIAGNOSTICS_H
#define TULM_GATEWAY_MEX_DIAGNOSTICS_H

#include <mex.h>

#include <cstdio>
#include <string>

#include "core/diagnostics.h"

namespace tulm {

class MexDiagnostics : public Diagnostics {
 public:
  void print(const std::string& text) override {
    mexPrintf("%s", text.c_str());
    std::fflush(stdout);
  }
  void warn(const std::string& text) override { mexWarnMsgTxt(text.c_str()); }
};

}  // namespace tulm

#endif  // TULM_GATEWAY_MEX_DIAGNOSTICS_H
