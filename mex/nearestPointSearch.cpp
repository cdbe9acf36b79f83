// [P, D, T] = nearestPointSearch(reference, model [, T]): the nearest reference point of
// every model row.
#include <mex.h>

#include "core/spatial_search/nearest_queries.h"
#include "gateway/nearest_search.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::nearest_search_gateway(nlhs, plhs, nrhs, prhs, tulm::kPointMode);
}
