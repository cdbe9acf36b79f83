// The k-d tree handle: a 1 x 1 double holding the address of a tree_header, through which a
// tree outlives the call that built it and passes between nearestPointSearch,
// nearestIndexSearch and radiusPointSearch.
//
// The three plug-ins share no code at run time, yet each must refuse a handle whose tree was
// released, or a number that never was a handle, without touching that address. So every
// kept tree is entered in one registry per process, a plain record that each plug-in finds
// through the environment variable TULM_KDTREE_REGISTRY ("<pid>:<address>"; the pid keeps a
// child process that inherits the variable from trusting it). A handle is decoded only when
// its address is in the registry.
#ifndef TULM_GATEWAY_KDTREE_HANDLE_H
#define TULM_GATEWAY_KDTREE_HANDLE_H

#include <mex.h>

#include "core/spatial_search/kdtree.h"

namespace tulm {

// The live tree behind handle. Ends the call with invalid_message when the handle is empty,
// decodes to 0 or to anything but a kept tree; with "<name> must be a double scalar (got
// <class>)" when it is not a double.
tree_header* decode_tree_handle(const mxArray* handle, const char* name,
                                const char* invalid_message);

// The handle value of a tree.
double tree_handle_value(const tree_header* tree);

// Enters a tree whose handle goes back to the caller; throws std::bad_alloc when the registry
// cannot grow (the tree is then not kept).
void keep_tree(tree_header* tree);

// Removes a kept tree from the registry and releases it; its handle is dead afterwards.
void release_kept_tree(tree_header* tree);

}  // namespace tulm

#endif  // TULM_GATEWAY_KDTREE_HANDLE_H
