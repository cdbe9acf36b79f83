#include "core/mesh_arrays.h"

#include <gtest/gtest.h>

namespace {

TEST(MeshArrays, ColumnMajorOffsets) {
  EXPECT_EQ(tulm::index_2D_array(0, 0, 7), 0);
  EXPECT_EQ(tulm::index_2D_array(2, 1, 7), 2 + 7);
  EXPECT_EQ(tulm::index_3D_array(1, 1, 1, 2, 3), 1 + 2 + 6);
}

}  // namespace
