// out = tulm_stream(dims, in1, in2, ...): the streaming floor of bench_measures. Creates a
// zero-filled single array of the given dimensions (one to three) the way the deliverables
// create theirs (tulm::Outputs), reads every byte of every input once and writes every element
// of the output once. No routine that reads those inputs and writes that output can move less
// memory.
#include <mex.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {

// Sums the input as 32-bit words (a trailing partial word is ignored), so the reads cannot
// be optimised away.
uint32_t checksum(const mxArray* array) {
  const size_t bytes = mxGetNumberOfElements(array) * mxGetElementSize(array);
  if (bytes < sizeof(uint32_t)) return 0;
  const auto* words = static_cast<const uint32_t*>(mxGetData(array));
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes / sizeof(uint32_t); ++i) sum += words[i];
  return sum;
}

}  // namespace

void mexFunction(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 1 || !mxIsDouble(prhs[0])) mexErrMsgTxt("usage: out = tulm_stream(dims, inputs...)");
  const double* given = mxGetPr(prhs[0]);
  std::vector<int32_t> dims(mxGetNumberOfElements(prhs[0]));
  if (dims.empty() || dims.size() > 3) mexErrMsgTxt("tulm_stream: one to three dimensions");
  size_t count = 1;
  for (size_t i = 0; i < dims.size(); ++i) {
    dims[i] = static_cast<int32_t>(given[i]);
    count *= static_cast<size_t>(dims[i]);
  }

  uint32_t sum = 0;
  for (int i = 1; i < nrhs; ++i) sum += checksum(prhs[i]);

  tulm::run_gateway("tulm_stream: out of memory", [&] {
    tulm::Outputs outputs(1, plhs);
    float* data = dims.size() == 1   ? outputs.single_array(0, {dims[0]})
                  : dims.size() == 2 ? outputs.single_array(0, {dims[0], dims[1]})
                                     : outputs.single_array(0, {dims[0], dims[1], dims[2]});
    float value;
    std::memcpy(&value, &sum, sizeof value);
    for (size_t i = 0; i < count; ++i) data[i] = value;
  });
}
