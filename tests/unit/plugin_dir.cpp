// The unit tests load the plug-ins of the build they belong to.
#include "harness.h"

namespace {
struct UseThisBuildsPlugins {
  UseThisBuildsPlugins() { mexhost::set_plugin_dir(TULM_PLUGIN_DIR); }
} use_this_builds_plugins;
}  // namespace
