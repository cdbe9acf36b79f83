#include "gateway/kdtree_handle.h"

#include <cmath>
#include <cstdint>

#include "gateway/arguments.h"

namespace tulm {

tree_header* decode_tree_handle(const mxArray* handle, const char* name,
                                const char* invalid_message) {
  require(!mxIsEmpty(handle), invalid_message);
  if (mxGetClassID(handle) != mxDOUBLE_CLASS) {
    throw Error(format("%s must be a double scalar (got %s)", name, class_name(handle)));
  }
  const double value = mxGetPr(handle)[0];
  // Truncation toward zero, as the handle was made; values outside int64 are no address.
  require(std::fabs(value) < 9.2e18, invalid_message);
  const int64_t address = static_cast<int64_t>(value);
  require(address != 0, invalid_message);
  tree_header* tree = find_kept_tree(address);
  require(tree != nullptr, invalid_message);
  return tree;
}

double tree_handle_value(const tree_header* tree) {
  return static_cast<double>(static_cast<int64_t>(reinterpret_cast<intptr_t>(tree)));
}

}  // namespace tulm
