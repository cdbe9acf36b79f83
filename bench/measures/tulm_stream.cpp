// out = tulm_stream(dims, in1, in2, ...): the streaming floor of bench_measures. Creates a
// zero-filled single array of the given dimensions the way the deliverables create theirs,
// reads every byte of every input once and writes every element of the output once. No
// routine that reads those inputs and writes that output can move less memory.
#include <mex.h>

#include <cstdint>
#include <cstring>
#include <vector>

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
  std::vector<mwSize> dims(mxGetNumberOfElements(prhs[0]));
  for (size_t i = 0; i < dims.size(); ++i) dims[i] = static_cast<mwSize>(given[i]);

  uint32_t sum = 0;
  for (int i = 1; i < nrhs; ++i) sum += checksum(prhs[i]);

  mxArray* out = mxCreateNumericArray(dims.size(), dims.data(), mxSINGLE_CLASS, mxREAL);
  float value;
  std::memcpy(&value, &sum, sizeof value);
  auto* data = static_cast<float*>(mxGetData(out));
  const size_t count = mxGetNumberOfElements(out);
  for (size_t i = 0; i < count; ++i) data[i] = value;
  plhs[0] = out;
}
