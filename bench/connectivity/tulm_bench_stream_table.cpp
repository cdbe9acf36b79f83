// out = tulm_bench_stream_table(faces, numVerts, K): reads every face corner once and writes
// every element of a new (V*K) x 1 int32 array once, the least work a table builder can do.
#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Out of memory", [&] {
    tulm::require(nrhs == 3, "tulm_bench_stream_table(faces, numVerts, K)");
    const auto faces = tulm::int32_matrix(prhs[0], "faces");
    const int32_t numVerts = tulm::int32_scalar(prhs[1], "numVerts");
    const int32_t K = tulm::int32_scalar(prhs[2], "K");
    const int32_t entries = tulm::checked_product(numVerts, K, "the table");
    int32_t* table = tulm::Outputs(nlhs, plhs).int32_array(0, {entries});
    const int64_t corners = int64_t{faces.rows} * faces.cols;
    int32_t sum = 0;
    for (int64_t i = 0; i < corners; ++i) sum += faces.data[i];
    for (int32_t i = 0; i < entries; ++i) table[i] = sum;
  });
}
