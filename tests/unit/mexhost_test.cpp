// The stand-in host keeps MATLAB's array rules, which the plug-ins' safety checks rely on.
#include <gtest/gtest.h>

#include "harness.h"
#include "mex.h"

namespace {

TEST(StandInHost, ShapesFollowMatlab) {
  const mwSize one[] = {5};
  mexhost::Array column(mxCreateNumericArray(1, one, mxINT32_CLASS, mxREAL));
  EXPECT_EQ(column.dims(), (std::vector<size_t>{5, 1}));

  const mwSize three[] = {2, 3, 4};
  mexhost::Array cube(mxCreateNumericArray(3, three, mxSINGLE_CLASS, mxREAL));
  EXPECT_EQ(mxGetM(cube.get()), 2u);
  EXPECT_EQ(mxGetN(cube.get()), 12u) << "N counts all trailing dimensions";

  const mwSize trailing[] = {2, 3, 1, 1};
  mexhost::Array matrix(mxCreateNumericArray(4, trailing, mxSINGLE_CLASS, mxREAL));
  EXPECT_EQ(mxGetNumberOfDimensions(matrix.get()), 2u);
}

TEST(StandInHost, StorageIsZeroFilledAndEmptyArraysHaveNoData) {
  mexhost::Array full(mxCreateDoubleMatrix(3, 2, mxREAL));
  EXPECT_EQ(full.values<double>(), std::vector<double>(6, 0.0));
  mexhost::Array empty(mxCreateDoubleMatrix(0, 4, mxREAL));
  EXPECT_EQ(mxGetData(empty.get()), nullptr);
  EXPECT_TRUE(mxIsEmpty(empty.get()));
  EXPECT_EQ(mxGetN(empty.get()), 4u);
}

TEST(StandInHost, ScalarsConvertFromEveryNumericClass) {
  for (mxClassID id :
       {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS, mxUINT8_CLASS, mxINT16_CLASS, mxUINT16_CLASS,
        mxINT32_CLASS, mxUINT32_CLASS, mxINT64_CLASS, mxUINT64_CLASS}) {
    EXPECT_EQ(mxGetScalar(mexhost::numeric_array(id, {1, 1}, {7}).get()), 7.0) << id;
  }
}

TEST(StandInHost, AnErrorLeavesNoOutput) {
  // A plug-in that fails still leaves no output behind.
  const auto result = mexhost::call("TULM_convertFaces2VertNbors", 1, {});
  EXPECT_TRUE(result.failed);
  ASSERT_EQ(result.outputs.size(), 1u);
  EXPECT_FALSE(result.outputs[0].exists());
}

}  // namespace
