// Calls every plug-in through the stand-in host with inputs derived from a valid call on a
// small mesh: the fuzzer's bytes pick the plug-in, the number of inputs and outputs, and
// edits to the inputs (another class, another shape, an empty array, an index at or beyond
// its range, NaN and Inf coordinates, k-d tree handles that are live, released or made up).
// Every call must end with outputs or with a message; the sanitizers catch everything else.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "harness.h"
#include "valid_calls.h"

using mexhost::Array;

namespace {

// A k-d tree handle of the kind the fuzzer asked for.
enum class HandleKind { kLive, kReleased, kMadeUp };

Array tree_handle(HandleKind kind, double madeUp) {
  if (kind == HandleKind::kMadeUp) return mexhost::double_scalar(madeUp);
  Array handle = tulm_test::new_tree_handle();
  if (kind == HandleKind::kReleased) tulm_test::release_tree(handle);
  return handle;
}

// Releases a tree that a call kept alive, so that trees do not pile up across runs.
void release_kept_tree(const mexhost::CallResult& result, const std::string& name) {
  if ((name == "nearestPointSearch" || name == "nearestIndexSearch") && !result.failed &&
      result.outputs.size() >= 3 && result.outputs[2].exists()) {
    tulm_test::release_tree(result.outputs[2]);
  }
}

constexpr int32_t kV = tulm_test::Octahedron::V, kF = tulm_test::Octahedron::F;

const double kSpecial[] = {0,
                           -1,
                           1,
                           2,
                           kV,
                           kV + 1,
                           kF,
                           kF + 1,
                           std::numeric_limits<int32_t>::max(),
                           std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           1e30,
                           -1e-30,
                           0.5};

const mxClassID kClasses[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS,  mxINT32_CLASS,  mxINT8_CLASS,
                              mxUINT8_CLASS,  mxINT16_CLASS,   mxUINT32_CLASS, mxINT64_CLASS,
                              mxUINT64_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS};

double element_as_double(const Array& a, size_t k) {
  switch (a.class_id()) {
    case mxDOUBLE_CLASS: return a.values<double>()[k];
    case mxSINGLE_CLASS: return a.values<float>()[k];
    case mxINT32_CLASS: return a.values<int32_t>()[k];
    default: return 0;
  }
}

std::vector<double> values_as_double(const Array& a) {
  std::vector<double> v;
  if (!a.exists()) return v;
  const mxClassID id = a.class_id();
  if (id != mxDOUBLE_CLASS && id != mxSINGLE_CLASS && id != mxINT32_CLASS) return v;
  for (size_t k = 0; k < a.numel(); ++k) v.push_back(element_as_double(a, k));
  return v;
}

// One edit of one input.
Array edited(const Array& input, FuzzedDataProvider& bytes) {
  const mxClassID id = input.class_id();
  std::vector<size_t> dims = input.dims();
  std::vector<double> values = values_as_double(input);
  switch (bytes.ConsumeIntegralInRange(0, 3)) {
    case 0: {  // one element to a value at or beyond a range, or not a number
      if (values.empty()) break;
      const size_t at = bytes.ConsumeIntegralInRange<size_t>(0, values.size() - 1);
      values[at] = bytes.PickValueInArray(kSpecial);
      break;
    }
    case 1: {  // another shape, the values kept in storage order
      dims = {bytes.ConsumeIntegralInRange<size_t>(0, 8),
              bytes.ConsumeIntegralInRange<size_t>(0, 8)};
      if (bytes.ConsumeBool()) dims.push_back(bytes.ConsumeIntegralInRange<size_t>(0, 3));
      size_t numel = 1;
      for (size_t d : dims) numel *= d;
      values.resize(numel, bytes.PickValueInArray(kSpecial));
      break;
    }
    case 2: {  // another class
      return mexhost::numeric_array(bytes.PickValueInArray(kClasses), dims, values);
    }
    default:  // empty
      return mexhost::numeric_array(bytes.ConsumeBool() ? id : bytes.PickValueInArray(kClasses),
                                    {bytes.ConsumeIntegralInRange<size_t>(0, 1), 0});
  }
  size_t numel = 1;
  for (size_t d : dims) numel *= d;
  values.resize(numel, 0);
  return mexhost::numeric_array(id, dims, values);
}

}  // namespace

// A count far beyond the arrays (numVerts = INT32_MAX with a handful of faces) asks for
// gigabytes of scratch; under the sanitizers such an allocation fails at once, so the call
// must end with its out-of-memory message rather than crash.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider bytes(data, size);
  const auto& calls = tulm_test::valid_calls();
  const tulm_test::ValidCall& plugin =
      calls[bytes.ConsumeIntegralInRange<size_t>(0, calls.size() - 1)];
  if (!mexhost::plugin_available(plugin.name)) return -1;
  std::vector<Array> inputs = plugin.inputs;
  Array liveHandle;
  if (plugin.handleInput >= 0) {
    const auto kind = static_cast<HandleKind>(bytes.ConsumeIntegralInRange(0, 2));
    inputs[plugin.handleInput] = tree_handle(kind, bytes.ConsumeFloatingPoint<double>());
    if (kind == HandleKind::kLive) liveHandle = inputs[plugin.handleInput];
  }
  const int nlhs = bytes.ConsumeIntegralInRange(0, 7);
  const int nrhs = bytes.ConsumeIntegralInRange(0, 7);
  while (static_cast<int>(inputs.size()) < nrhs) inputs.push_back(mexhost::double_scalar(1));
  inputs.resize(nrhs);
  const int edits = bytes.ConsumeIntegralInRange(0, 3);
  for (int e = 0; e < edits && !inputs.empty(); ++e) {
    const size_t which = bytes.ConsumeIntegralInRange<size_t>(0, inputs.size() - 1);
    if (inputs[which].exists()) inputs[which] = edited(inputs[which], bytes);
  }
  const auto result = mexhost::call(plugin.name, nlhs, inputs);
  if (!result.guards_intact || !result.inputs_intact) std::abort();
  if (result.failed && result.error.empty()) std::abort();
  release_kept_tree(result, plugin.name);
  if (liveHandle.exists()) tulm_test::release_tree(liveHandle);
  return 0;
}
