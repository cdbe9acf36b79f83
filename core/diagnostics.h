// Where core routines send text that does not end a call: printed lines and warnings.
// The gateway connects a sink to the host (mexPrintf, mexWarnMsgTxt); tests and benchmarks
// capture the text instead.
#ifndef TULM_CORE_DIAGNOSTICS_H
#define TULM_CORE_DIAGNOSTICS_H

#include <string>
#include <vector>

namespace tulm {

class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  // Text exactly as it is to appear, newlines included.
  virtual void print(const std::string& text) = 0;
  virtual void warn(const std::string& text) = 0;
};

// Keeps everything, for tests and benchmarks.
class CapturedDiagnostics : public Diagnostics {
 public:
  void print(const std::string& text) override { printed += text; }
  void warn(const std::string& text) override { warnings.push_back(text); }

  std::string printed;
  std::vector<std::string> warnings;
};

}  // namespace tulm

#endif  // TULM_CORE_DIAGNOSTICS_H
