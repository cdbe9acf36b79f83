// Typed access to a gateway's inputs and outputs, with the safety checks that every plug-in
// shares: an input is read only as the class it has, with counts that fit the 32-bit
// arithmetic of the core routines, and outputs go only into slots that exist.
//
// Every failure throws tulm::Error with a message in one style: the input's name as users
// know it, what was expected, what came ("faces must be an int32 matrix (got double)").
#ifndef TULM_GATEWAY_ARGUMENTS_H
#define TULM_GATEWAY_ARGUMENTS_H

#include <mex.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "core/errors.h"

namespace tulm {

// A read-only view of a 2-D input: rows = mxGetM, cols = mxGetN (all trailing dimensions).
// data is null when the array is empty, whatever the host gives.
template <class T>
struct MatrixArg {
  const T* data;
  int32_t rows;
  int32_t cols;
};

// Ends the call with `message` unless ok.
inline void require(bool ok, const char* message) {
  if (!ok) throw Error(message);
}

const char* class_name(const mxArray* array);

// The inputs of one call. Reading a position the caller did not pass ends the call with
// `missing` instead of reading past prhs, so a short call is refused exactly where it would
// first touch an input it lacks, after every check on the inputs it did pass.
class Inputs {
 public:
  Inputs(int nrhs, const mxArray* const* prhs, const char* missing)
      : count_(nrhs), prhs_(prhs), missing_(missing) {}

  int count() const { return count_; }
  const mxArray* operator[](int position) const {
    require(position < count_, missing_);
    return prhs_[position];
  }

 private:
  int count_;
  const mxArray* const* prhs_;
  const char* missing_;
};

// Class-checked views; the element count must fit a 32-bit signed int.
MatrixArg<float> single_matrix(const mxArray* array, const char* name);
MatrixArg<int32_t> int32_matrix(const mxArray* array, const char* name);
MatrixArg<double> double_matrix(const mxArray* array, const char* name);

// A view of an input that is read only where it has elements: an empty array of any class
// (users write [] for "none") is an empty view of its shape, data null; any other array must
// have the class that `view` checks.
template <class T>
MatrixArg<T> view_unless_empty(MatrixArg<T> (*view)(const mxArray*, const char*),
                               const mxArray* array, const char* name);

// The first element of a non-empty int32 array.
int32_t int32_scalar(const mxArray* array, const char* name);
// The first element of a non-empty numeric array of any class, as a double (mxGetScalar).
double numeric_scalar(const mxArray* array, const char* name);

// Ends the call unless the view has at least `rows` rows and `cols` columns:
// "vertexNbors must be at least 6 x 12 (got 6 x 10)".
template <class T>
void require_at_least(const MatrixArg<T>& view, int32_t rows, int32_t cols, const char* name);

// Ends the call unless the view has exactly `rows` rows, the leading dimension a column-form
// array is read with: "vertices must have 3 rows (got 5 x 3)".
template <class T>
void require_rows(const MatrixArg<T>& view, int32_t rows, const char* name);

// Ends the call unless count >= 0: "numVerts must not be negative (got -3)".
void require_non_negative(int32_t count, const char* name);

// Ends the call unless a * b fits a 32-bit signed int; returns the product.
int32_t checked_product(int32_t a, int32_t b, const char* what);
// The same for three non-negative factors; a zero factor makes the product 0 whatever the
// others are.
int32_t checked_product(int32_t a, int32_t b, int32_t c, const char* what);

// The output slots of one call: exactly max(nlhs, 1) exist. Writing plhs[k] beyond them
// corrupts the host's memory, so outputs are created only through here.
class Outputs {
 public:
  Outputs(int nlhs, mxArray** plhs)
      : count_(nlhs > 1 ? nlhs : 1), plhs_(plhs), stored_(static_cast<size_t>(count_)) {}

  int count() const { return count_; }
  bool has(int slot) const { return slot < count_; }

  // Create a zero-filled array, store it in `slot` (which must exist) and return its
  // storage (null when the array is empty). An array created earlier into the same slot is
  // freed: a routine that learns an output's size late may create it twice.
  int32_t* int32_array(int slot, std::initializer_list<int32_t> dims);
  float* single_array(int slot, std::initializer_list<int32_t> dims);
  double* double_matrix(int slot, int32_t rows, int32_t cols);

 private:
  mxArray* store(int slot, mxArray* array);

  int count_;
  mxArray** plhs_;
  std::vector<bool> stored_;  // the slots already holding an array created here
};

}  // namespace tulm

#endif  // TULM_GATEWAY_ARGUMENTS_H
