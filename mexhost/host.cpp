// The stand-in MEX host: MATLAB's array and message functions, and the call harness.
#if defined(_WIN32)
#define NOMINMAX  // keeps std::numeric_limits<T>::min() and max() usable
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>

#include "harness.h"
#include "mex.h"

struct mxArray_tag {
  mxClassID class_id;
  std::vector<mwSize> dims;
  size_t numel;
  size_t element_size;
  void* data;  // null when numel is 0, as in MATLAB
};

namespace {

using Gateway = void (*)(int, mxArray**, int, const mxArray**);

// A plug-in file the host has loaded, and the function it gave mexAtExit.
struct Plugin {
#if defined(_WIN32)
  HMODULE library = nullptr;
#else
  void* library = nullptr;
#endif
  Gateway gateway = nullptr;
  void (*atExit)() = nullptr;
};

// What the host records while a plug-in runs.
struct CallState {
  Plugin* plugin = nullptr;
  std::set<mxArray*> created;
  std::string printed;
  std::vector<std::string> warnings;
  int64_t interruptPolls = 0;
  std::chrono::steady_clock::time_point entered;
  std::chrono::steady_clock::time_point firstPressed;  // the epoch until the host says so
};
CallState* current_call = nullptr;

// Thrown by mexErrMsgTxt, caught by call(): MATLAB ends the call the same way.
struct RaisedError {
  std::string text;
  std::string identifier;
};

size_t element_size_of(mxClassID id) {
  switch (id) {
    case mxLOGICAL_CLASS:
    case mxINT8_CLASS:
    case mxUINT8_CLASS: return 1;
    case mxCHAR_CLASS:
    case mxINT16_CLASS:
    case mxUINT16_CLASS: return 2;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS: return 4;
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS: return 8;
    default: return 0;
  }
}

// MATLAB's shape rules: fewer than two dimensions are padded (a one-entry vector [n] is
// n x 1), trailing singleton dimensions beyond the second are dropped.
std::vector<mwSize> normalized_dims(mwSize ndim, const mwSize* dims) {
  std::vector<mwSize> shape(dims, dims + ndim);
  if (shape.empty()) shape = {0, 0};
  if (shape.size() == 1) shape.push_back(1);
  while (shape.size() > 2 && shape.back() == 1) shape.pop_back();
  return shape;
}

mxArray* new_array(mxClassID id, std::vector<mwSize> dims) {
  const size_t element_size = element_size_of(id);
  if (element_size == 0) return nullptr;
  auto* array = new mxArray{id, std::move(dims), 1, element_size, nullptr};
  for (mwSize d : array->dims) array->numel *= d;
  if (array->numel > 0) {
    array->data = std::calloc(array->numel, element_size);
    if (array->data == nullptr) {
      delete array;
      return nullptr;
    }
  }
  if (current_call != nullptr) current_call->created.insert(array);
  return array;
}

template <class T>
double element_as_double(const void* data) {
  return static_cast<double>(*static_cast<const T*>(data));
}

double first_as_double(const mxArray* a) {
  if (a->data == nullptr) return 0.0;
  switch (a->class_id) {
    case mxDOUBLE_CLASS: return element_as_double<double>(a->data);
    case mxSINGLE_CLASS: return element_as_double<float>(a->data);
    case mxLOGICAL_CLASS: return element_as_double<uint8_t>(a->data);
    case mxCHAR_CLASS: return element_as_double<uint16_t>(a->data);
    case mxINT8_CLASS: return element_as_double<int8_t>(a->data);
    case mxUINT8_CLASS: return element_as_double<uint8_t>(a->data);
    case mxINT16_CLASS: return element_as_double<int16_t>(a->data);
    case mxUINT16_CLASS: return element_as_double<uint16_t>(a->data);
    case mxINT32_CLASS: return element_as_double<int32_t>(a->data);
    case mxUINT32_CLASS: return element_as_double<uint32_t>(a->data);
    case mxINT64_CLASS: return element_as_double<int64_t>(a->data);
    case mxUINT64_CLASS: return element_as_double<uint64_t>(a->data);
    default: return 0.0;
  }
}

// MATLAB's conversion to an integer class: round to nearest, saturate, NaN to 0.
template <class T>
T to_integer(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::round(value);
  if (rounded <= static_cast<double>(std::numeric_limits<T>::min())) {
    return std::numeric_limits<T>::min();
  }
  if (rounded >= static_cast<double>(std::numeric_limits<T>::max())) {
    return std::numeric_limits<T>::max();
  }
  return static_cast<T>(rounded);
}

void store_from_double(mxArray* a, size_t k, double value) {
  void* at = static_cast<char*>(a->data) + k * a->element_size;
  switch (a->class_id) {
    case mxDOUBLE_CLASS: *static_cast<double*>(at) = value; break;
    case mxSINGLE_CLASS: *static_cast<float*>(at) = static_cast<float>(value); break;
    case mxLOGICAL_CLASS: *static_cast<uint8_t*>(at) = value != 0.0; break;
    case mxCHAR_CLASS: *static_cast<uint16_t*>(at) = to_integer<uint16_t>(value); break;
    case mxINT8_CLASS: *static_cast<int8_t*>(at) = to_integer<int8_t>(value); break;
    case mxUINT8_CLASS: *static_cast<uint8_t*>(at) = to_integer<uint8_t>(value); break;
    case mxINT16_CLASS: *static_cast<int16_t*>(at) = to_integer<int16_t>(value); break;
    case mxUINT16_CLASS: *static_cast<uint16_t*>(at) = to_integer<uint16_t>(value); break;
    case mxINT32_CLASS: *static_cast<int32_t*>(at) = to_integer<int32_t>(value); break;
    case mxUINT32_CLASS: *static_cast<uint32_t*>(at) = to_integer<uint32_t>(value); break;
    case mxINT64_CLASS: *static_cast<int64_t*>(at) = to_integer<int64_t>(value); break;
    case mxUINT64_CLASS: *static_cast<uint64_t*>(at) = to_integer<uint64_t>(value); break;
    default: break;
  }
}

mxArray* copy_array(const mxArray* a) {
  if (a == nullptr) return nullptr;
  auto* copy = new mxArray{a->class_id, a->dims, a->numel, a->element_size, nullptr};
  if (a->data != nullptr) {
    copy->data = std::malloc(a->numel * a->element_size);
    std::memcpy(copy->data, a->data, a->numel * a->element_size);
  }
  return copy;
}

bool same_contents(const mxArray* a, const mxArray* b) {
  if (a->class_id != b->class_id || a->dims != b->dims) return false;
  return a->data == nullptr || std::memcmp(a->data, b->data, a->numel * a->element_size) == 0;
}

std::string plugin_dir;
std::function<void()> before_call;
// When Ctrl-C is "pressed" in a call: at its interrupt_poll-th poll when that is positive, else
// interrupt_delay after it entered the plug-in when that is not negative, else never.
int64_t interrupt_poll = 0;
std::chrono::duration<double> interrupt_delay{-1.0};

void close_library(const Plugin& plugin) {
#if defined(_WIN32)
  FreeLibrary(plugin.library);
#else
  dlclose(plugin.library);
#endif
}

// Loads the plug-in file at path and finds its mexFunction, as MATLAB does on each system; on
// failure returns a plug-in without gateway, with the reason in *failure. The plug-in stays
// loaded until a test clears it, so sanitizer reports can still name its functions at exit.
Plugin open_plugin(const std::string& path, std::string* failure) {
  Plugin plugin;
#if defined(_WIN32)
  // The altered search path starts in the plug-in's own folder, where the libraries it depends
  // on (tulm_kdtree.dll) stand; it needs a full path with backslashes.
  char fullPath[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, fullPath, nullptr);
  HMODULE library = length > 0 && length < MAX_PATH
                        ? LoadLibraryExA(fullPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                        : nullptr;
  if (library == nullptr) {
    *failure = "cannot load " + path + ": error " + std::to_string(GetLastError());
    return plugin;
  }
  plugin.gateway = reinterpret_cast<Gateway>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "mexFunction")));
#else
  // RTLD_LOCAL keeps each plug-in's symbols to itself, as MATLAB loads them.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    *failure = "cannot load " + path + ": " + dlerror();
    return plugin;
  }
  plugin.gateway = reinterpret_cast<Gateway>(dlsym(library, "mexFunction"));
#endif
  plugin.library = library;
  if (plugin.gateway == nullptr) {
    *failure = path + " has no mexFunction";
    close_library(plugin);
  }
  return plugin;
}

std::map<std::string, Plugin> loaded;

// The loaded plug-in, or null when NAME plus the plug-in suffix does not exist or does not
// load.
Plugin* try_load_plugin(const std::string& name, std::string* failure) {
  auto found = loaded.find(name);
  if (found != loaded.end()) return &found->second;
  std::string dir = plugin_dir;
  if (dir.empty()) {
    const char* from_env = std::getenv("TULM_PLUGIN_DIR");
    if (from_env != nullptr) dir = from_env;
  }
  const std::string path = (dir.empty() ? std::string(".") : dir) + "/" + name + TULM_PLUGIN_SUFFIX;
  const Plugin plugin = open_plugin(path, failure);
  if (plugin.gateway == nullptr) return nullptr;
  return &(loaded[name] = plugin);
}

Plugin& load_plugin(const std::string& name) {
  std::string failure;
  Plugin* plugin = try_load_plugin(name, &failure);
  if (plugin == nullptr) throw std::runtime_error(failure);
  return *plugin;
}

constexpr int kGuardSlots = 4;

}  // namespace

extern "C" {

double* mxGetPr(const mxArray* a) { return static_cast<double*>(a->data); }
void* mxGetData(const mxArray* a) { return a->data; }
size_t mxGetM(const mxArray* a) { return a->dims[0]; }
size_t mxGetN(const mxArray* a) {
  size_t n = 1;
  for (size_t k = 1; k < a->dims.size(); ++k) n *= a->dims[k];
  return n;
}
double mxGetScalar(const mxArray* a) { return first_as_double(a); }
const mwSize* mxGetDimensions(const mxArray* a) { return a->dims.data(); }
mwSize mxGetNumberOfDimensions(const mxArray* a) { return a->dims.size(); }
size_t mxGetNumberOfElements(const mxArray* a) { return a->numel; }
mxClassID mxGetClassID(const mxArray* a) { return a->class_id; }
int mxIsEmpty(const mxArray* a) { return a->numel == 0; }

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid,
                              mxComplexity /*flag*/) {
  return new_array(classid, normalized_dims(ndim, dims));
}

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity /*flag*/) {
  return new_array(mxDOUBLE_CLASS, {m, n});
}

void mxDestroyArray(mxArray* a) {
  if (a == nullptr) return;
  if (current_call != nullptr) current_call->created.erase(a);
  std::free(a->data);
  delete a;
}

void mexErrMsgTxt(const char* text) { throw RaisedError{text, ""}; }

void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  throw RaisedError{text, identifier};
}

bool utIsInterruptPending(void) {
  if (current_call == nullptr) return false;
  ++current_call->interruptPolls;
  const auto now = std::chrono::steady_clock::now();
  const bool pressed = interrupt_poll > 0 ? current_call->interruptPolls >= interrupt_poll
                                          : interrupt_delay.count() >= 0 &&
                                                now - current_call->entered >= interrupt_delay;
  if (pressed && current_call->firstPressed == std::chrono::steady_clock::time_point()) {
    current_call->firstPressed = now;
  }
  return pressed;
}

int mexAtExit(void (*exitFunction)(void)) {
  if (current_call != nullptr) current_call->plugin->atExit = exitFunction;
  return 0;
}

void mexWarnMsgTxt(const char* text) {
  if (current_call != nullptr) current_call->warnings.emplace_back(text);
}

int mexPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length > 0 && current_call != nullptr) {
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(&text[0], text.size() + 1, format, args);
    current_call->printed += text;
  }
  va_end(args);
  return length;
}

}  // extern "C"

namespace mexhost {

Array::Array(const Array& other) : array_(copy_array(other.array_)) {}

Array& Array::operator=(const Array& other) {
  if (this != &other) {
    mxDestroyArray(array_);
    array_ = copy_array(other.array_);
  }
  return *this;
}

Array& Array::operator=(Array&& other) noexcept {
  if (this != &other) {
    mxDestroyArray(array_);
    array_ = other.release();
  }
  return *this;
}

Array::~Array() { mxDestroyArray(array_); }

mxArray* Array::release() {
  mxArray* array = array_;
  array_ = nullptr;
  return array;
}

mxClassID Array::class_id() const { return array_->class_id; }
std::vector<size_t> Array::dims() const { return {array_->dims.begin(), array_->dims.end()}; }
size_t Array::numel() const { return array_->numel; }

template <class T>
std::vector<T> Array::values() const {
  if (sizeof(T) != array_->element_size) throw std::logic_error("values<T>: wrong class");
  const T* data = static_cast<const T*>(array_->data);
  return data == nullptr ? std::vector<T>() : std::vector<T>(data, data + array_->numel);
}

template std::vector<int32_t> Array::values<int32_t>() const;
template std::vector<float> Array::values<float>() const;
template std::vector<double> Array::values<double>() const;

Array numeric_array(mxClassID class_id, std::vector<size_t> dims,
                    const std::vector<double>& values) {
  std::vector<mwSize> shape(dims.begin(), dims.end());
  Array array(new_array(class_id, normalized_dims(shape.size(), shape.data())));
  if (!array.exists()) throw std::logic_error("numeric_array: unsupported class");
  if (values.size() > array.numel()) throw std::logic_error("numeric_array: too many values");
  for (size_t k = 0; k < values.size(); ++k) store_from_double(array.get(), k, values[k]);
  return array;
}

template <class T>
Array typed_array(mxClassID class_id, std::vector<size_t> dims, const std::vector<T>& values) {
  Array array = numeric_array(class_id, std::move(dims));
  if (values.size() > array.numel()) throw std::logic_error("typed_array: too many values");
  if (!values.empty())
    std::memcpy(mxGetData(array.get()), values.data(), values.size() * sizeof(T));
  return array;
}

Array int32_array(std::vector<size_t> dims, const std::vector<int32_t>& values) {
  return typed_array(mxINT32_CLASS, std::move(dims), values);
}
Array single_array(std::vector<size_t> dims, const std::vector<float>& values) {
  return typed_array(mxSINGLE_CLASS, std::move(dims), values);
}
Array double_array(std::vector<size_t> dims, const std::vector<double>& values) {
  return typed_array(mxDOUBLE_CLASS, std::move(dims), values);
}
Array int32_scalar(int32_t value) { return int32_array({1, 1}, {value}); }
Array single_scalar(float value) { return single_array({1, 1}, {value}); }
Array double_scalar(double value) { return double_array({1, 1}, {value}); }

void set_plugin_dir(const std::string& dir) { plugin_dir = dir; }

void set_before_call(std::function<void()> hook) { before_call = std::move(hook); }

void interrupt_at_poll(int64_t poll) {
  interrupt_poll = poll;
  interrupt_delay = std::chrono::duration<double>(-1.0);
}

void interrupt_after(double seconds) {
  interrupt_poll = 0;
  interrupt_delay = std::chrono::duration<double>(seconds);
}

bool plugin_available(const std::string& name) {
  std::string failure;
  return try_load_plugin(name, &failure) != nullptr;
}

void clear_plugin(const std::string& name) {
  const auto found = loaded.find(name);
  if (found == loaded.end()) return;
  const Plugin plugin = found->second;
  loaded.erase(found);
  if (plugin.atExit != nullptr) plugin.atExit();
  close_library(plugin);
}

CallResult call(const std::string& name, int nlhs, const std::vector<Array>& inputs) {
  Plugin& plugin = load_plugin(name);
  std::vector<const mxArray*> prhs;
  std::vector<Array> before;  // copies, to tell whether the plug-in wrote into its inputs
  for (const Array& input : inputs) {
    if (!input.exists()) throw std::logic_error("call " + name + ": an input array is missing");
    prhs.push_back(input.get());
    before.push_back(input);
  }
  const int slots = nlhs > 1 ? nlhs : 1;
  std::vector<mxArray*> plhs(static_cast<size_t>(slots + kGuardSlots), nullptr);

  CallState state;
  state.plugin = &plugin;
  CallResult result;
  current_call = &state;
  if (before_call) before_call();
  state.entered = std::chrono::steady_clock::now();
  try {
    plugin.gateway(nlhs, plhs.data(), static_cast<int>(prhs.size()), prhs.data());
  } catch (const RaisedError& raised) {
    result.failed = true;
    result.error = raised.text;
    result.error_id = raised.identifier;
  }
  if (state.firstPressed != std::chrono::steady_clock::time_point()) {
    result.seconds_to_stop =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - state.firstPressed)
            .count();
  }
  current_call = nullptr;

  for (int k = slots; k < slots + kGuardSlots; ++k) {
    if (plhs[k] != nullptr) result.guards_intact = false;
  }
  for (int k = 0; k < slots; ++k) {
    if (!result.failed && plhs[k] != nullptr && state.created.erase(plhs[k]) > 0) {
      result.outputs.emplace_back(plhs[k]);
    } else {
      result.outputs.emplace_back();
    }
  }
  // Like MATLAB: everything created during the call and not returned is released.
  for (mxArray* temporary : state.created) {
    std::free(temporary->data);
    delete temporary;
  }
  for (size_t k = 0; k < inputs.size(); ++k) {
    if (!same_contents(inputs[k].get(), before[k].get())) result.inputs_intact = false;
  }
  result.interrupt_polls = state.interruptPolls;
  result.printed = std::move(state.printed);
  result.warnings = std::move(state.warnings);
  return result;
}

}  // namespace mexhost
