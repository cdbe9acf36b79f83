// The k-d tree handle: a 1 x 1 double holding the address of a kept tree_header, through which
// a tree outlives the call that built it and passes between nearestPointSearch,
// nearestIndexSearch and radiusPointSearch.
//
// A handle's value is only ever looked up among the kept trees of the tulm_kdtree library,
// never used as an address: the handle of a released tree, or any number that never was a
// handle, is refused without touching the memory it names.
#ifndef TULM_GATEWAY_KDTREE_HANDLE_H
#define TULM_GATEWAY_KDTREE_HANDLE_H

#include <mex.h>

#include "core/spatial_search/kdtree.h"

namespace tulm {

// The kept tree behind handle. Ends the call with invalid_message when the handle is empty,
// or decodes to 0 or to anything but a kept tree; with "<name> must be a double scalar (got
// <class>)" when it is not a double.
tree_header* decode_tree_handle(const mxArray* handle, const char* name,
                                const char* invalid_message);

// The handle value of a tree.
double tree_handle_value(const tree_header* tree);

}  // namespace tulm

#endif  // TULM_GATEWAY_KDTREE_HANDLE_H
