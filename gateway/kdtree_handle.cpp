#include "gateway/kdtree_handle.h"

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "gateway/arguments.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace tulm {
namespace {

const char* const kVariable = "TULM_KDTREE_REGISTRY";
constexpr uint64_t kMagic = 0x54554c4d4b445452ull;  // "TULMKDTR"
constexpr uint32_t kVersion = 1;

// The layout every plug-in of one version agrees on; plain data only, since each plug-in has
// its own copy of this code and of the C++ runtime's view of it.
struct Registry {
  uint64_t magic;
  uint32_t version;
  uint32_t count;
  uint32_t capacity;
  const void** trees;  // malloc'd, count live tree_header addresses
};

// This plug-in's pointer to the registry: it keeps the registry reachable for leak checkers
// and lets a forked child keep using the registry it inherited.
Registry* known = nullptr;

long long process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return getpid();
#endif
}

Registry* published() {
  const char* text = std::getenv(kVariable);
  if (text == nullptr) return nullptr;
  long long pid = 0;
  uintptr_t address = 0;
  if (std::sscanf(text, "%lld:%" SCNxPTR, &pid, &address) != 2) return nullptr;
  if (pid != process_id() || address == 0) return nullptr;
  Registry* registry = reinterpret_cast<Registry*>(address);
  if (registry->magic != kMagic) return nullptr;
  if (registry->version != kVersion) {
    throw Error("k-d tree handles of another TULM version are live in this process");
  }
  return registry;
}

void publish(const Registry* registry) {
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%" PRIxPTR, process_id(),
                reinterpret_cast<uintptr_t>(registry));
#ifdef _WIN32
  _putenv_s(kVariable, text);
#else
  setenv(kVariable, text, 1);
#endif
}

// The process's registry; made and published when `create` and none exists yet.
Registry* find_registry(bool create) {
  Registry* found = published();
  Registry* registry = found != nullptr ? found : known;
  if (registry == nullptr && create) {
    registry = static_cast<Registry*>(std::calloc(1, sizeof(Registry)));
    if (registry == nullptr) throw std::bad_alloc();
    *registry = Registry{kMagic, kVersion, 0, 0, nullptr};
  }
  if (registry != nullptr && registry != found) publish(registry);
  if (registry != nullptr) known = registry;
  return registry;
}

// The position of tree in the registry, or -1.
int64_t find_tree(const Registry* registry, const void* tree) {
  if (registry == nullptr) return -1;
  for (uint32_t k = 0; k < registry->count; ++k) {
    if (registry->trees[k] == tree) return k;
  }
  return -1;
}

}  // namespace

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
  const void* tree = reinterpret_cast<const void*>(static_cast<intptr_t>(address));
  require(find_tree(find_registry(false), tree) >= 0, invalid_message);
  return reinterpret_cast<tree_header*>(static_cast<intptr_t>(address));
}

double tree_handle_value(const tree_header* tree) {
  return static_cast<double>(static_cast<int64_t>(reinterpret_cast<intptr_t>(tree)));
}

void keep_tree(tree_header* tree) {
  Registry* registry = find_registry(true);
  if (find_tree(registry, tree) >= 0) return;
  if (registry->count == registry->capacity) {
    const uint32_t capacity = registry->capacity == 0 ? 16 : 2 * registry->capacity;
    void* grown = std::realloc(registry->trees, capacity * sizeof(const void*));
    if (grown == nullptr) throw std::bad_alloc();
    registry->trees = static_cast<const void**>(grown);
    registry->capacity = capacity;
  }
  registry->trees[registry->count++] = tree;
}

void release_kept_tree(tree_header* tree) {
  Registry* registry = find_registry(false);
  const int64_t position = find_tree(registry, tree);
  if (position >= 0) registry->trees[position] = registry->trees[--registry->count];
  release_tree(tree);
}

}  // namespace tulm
