// The unit tests load the plug-ins of the build they belong to.
#include <gtest/gtest.h>

#include "harness.h"

int main(int argc, char** argv) {
  mexhost::set_plugin_dir(TULM_PLUGIN_DIR);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
