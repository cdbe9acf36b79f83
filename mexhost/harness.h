// The stand-in MEX host, seen from a test: build input arrays, load a plug-in file by name as
// MATLAB does, call its mexFunction, and get back what the caller would see.
//
// A plug-in NAME is the file NAME.so on Linux and NAME.dll on Windows (the build's plug-in
// suffix, written below as NAME.so).
//
// The host behaves like MATLAB where the plug-ins could tell a difference: storage is
// zero-filled, an empty array has a null data pointer, a call gets exactly max(nlhs, 1)
// output slots, an error raised with mexErrMsgTxt ends the call and discards its outputs, and
// arrays the plug-in created but did not return are released at the end of the call. Not
// thread-safe: one call at a time, as in MATLAB.
#ifndef TULM_MEXHOST_HARNESS_H
#define TULM_MEXHOST_HARNESS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "matrix.h"

namespace mexhost {

// An owning handle to one host array; copies are deep.
class Array {
 public:
  Array() = default;
  explicit Array(mxArray* array) : array_(array) {}
  Array(const Array& other);
  Array& operator=(const Array& other);
  Array(Array&& other) noexcept : array_(other.release()) {}
  Array& operator=(Array&& other) noexcept;
  ~Array();

  mxArray* get() const { return array_; }
  mxArray* release();
  bool exists() const { return array_ != nullptr; }

  mxClassID class_id() const;
  std::vector<size_t> dims() const;
  size_t numel() const;
  // A copy of the elements, read as T; T must match the class.
  template <class T>
  std::vector<T> values() const;

 private:
  mxArray* array_ = nullptr;
};

// Array builders: dims as MATLAB shows them, values in column-major order. Missing values
// stay 0; more values than elements is a test error.
Array int32_array(std::vector<size_t> dims, const std::vector<int32_t>& values = {});
Array single_array(std::vector<size_t> dims, const std::vector<float>& values = {});
Array double_array(std::vector<size_t> dims, const std::vector<double>& values = {});
// Any numeric, logical or char class, each value converted from double.
Array numeric_array(mxClassID class_id, std::vector<size_t> dims,
                    const std::vector<double>& values = {});
Array int32_scalar(int32_t value);
Array single_scalar(float value);
Array double_scalar(double value);

struct CallResult {
  std::vector<Array> outputs;   // max(nlhs, 1) slots; a slot the plug-in left empty is null
  bool failed = false;          // the call ended through mexErrMsgTxt or mexErrMsgIdAndTxt
  std::string error;            // its text
  std::string error_id;         // the identifier mexErrMsgIdAndTxt gave, else empty
  int64_t interrupt_polls = 0;  // how often the plug-in asked whether Ctrl-C was pressed
  // Seconds from the host's first "pressed" to the end of the call, -1 when it never said so.
  double seconds_to_stop = -1;
  std::string printed;  // everything mexPrintf wrote
  std::vector<std::string> warnings;
  bool guards_intact = true;  // no write past the max(nlhs, 1) output slots
  bool inputs_intact = true;  // no write into an input array
};

// Plug-ins are found as DIR/NAME.so; DIR comes from set_plugin_dir or the environment
// variable TULM_PLUGIN_DIR.
void set_plugin_dir(const std::string& dir);

// Runs hook right before each plug-in is entered (after the host made its own copies), or
// nothing when hook is empty: for example to limit the memory a plug-in can take.
void set_before_call(std::function<void()> hook);

// From the `poll`-th time a call asks whether the user pressed Ctrl-C (utIsInterruptPending,
// counted from 1 in each call) to the end of that call, the host says yes; 0: never (the
// default). Every later call is interrupted alike until this is set again.
void interrupt_at_poll(int64_t poll);

// From `seconds` after a call enters the plug-in to its end, the host says Ctrl-C was pressed;
// negative: never (the default). Replaces interrupt_at_poll's setting, and it replaces this.
void interrupt_after(double seconds);

// Whether NAME.so exists and loads.
bool plugin_available(const std::string& name);

// As `clear NAME` in MATLAB: calls the function NAME gave mexAtExit, if any, then unloads it;
// the next call loads it afresh. Nothing when NAME is not loaded.
void clear_plugin(const std::string& name);

// Loads NAME.so (once; it stays loaded until clear_plugin) and calls it with the inputs and
// nlhs.
CallResult call(const std::string& name, int nlhs, const std::vector<Array>& inputs);

}  // namespace mexhost

#endif  // TULM_MEXHOST_HARNESS_H
