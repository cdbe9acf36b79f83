// The gateway of nearestPointSearch and nearestIndexSearch, which differ only in their first
// output.
#ifndef TULM_GATEWAY_NEAREST_SEARCH_H
#define TULM_GATEWAY_NEAREST_SEARCH_H

#include <mex.h>

#include <cstdint>

namespace tulm {

// [out, D, T] = NAME(reference, model [, T]) with the output mode of run_queries.
void nearest_search_gateway(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[],
                            int16_t mode);

}  // namespace tulm

#endif  // TULM_GATEWAY_NEAREST_SEARCH_H
