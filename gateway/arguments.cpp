#include "gateway/arguments.h"

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace tulm {
namespace {

constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

const char* class_id_name(mxClassID id) {
  switch (id) {
    case mxCELL_CLASS: return "cell";
    case mxSTRUCT_CLASS: return "struct";
    case mxLOGICAL_CLASS: return "logical";
    case mxCHAR_CLASS: return "char";
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT8_CLASS: return "int8";
    case mxUINT8_CLASS: return "uint8";
    case mxINT16_CLASS: return "int16";
    case mxUINT16_CLASS: return "uint16";
    case mxINT32_CLASS: return "int32";
    case mxUINT32_CLASS: return "uint32";
    case mxINT64_CLASS: return "int64";
    case mxUINT64_CLASS: return "uint64";
    case mxFUNCTION_CLASS: return "function handle";
    default: return "unknown";
  }
}

bool is_numeric(mxClassID id) { return id >= mxDOUBLE_CLASS && id <= mxUINT64_CLASS; }

template <class T>
MatrixArg<T> matrix_of_class(const mxArray* array, mxClassID id, const char* class_text,
                             const char* name) {
  if (mxGetClassID(array) != id) {
    throw Error(format("%s must be %s matrix (got %s)", name, class_text, class_name(array)));
  }
  const size_t rows = mxGetM(array);
  const size_t cols = mxGetN(array);
  const size_t elements = mxGetNumberOfElements(array);
  if (rows > kMaxCount || cols > kMaxCount || elements > kMaxCount) {
    throw Error(format("%s has too many elements (%zu, at most %lld)", name, elements,
                       static_cast<long long>(kMaxCount)));
  }
  const T* data = elements == 0 ? nullptr : static_cast<const T*>(mxGetData(array));
  return {data, static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
}

std::vector<mwSize> host_dims(std::initializer_list<int32_t> dims) {
  std::vector<mwSize> shape;
  for (int32_t d : dims) {
    if (d < 0) throw std::logic_error("negative output dimension");
    shape.push_back(static_cast<mwSize>(d));
  }
  return shape;
}

#if defined(HAVE_OCTAVE)
// Whether array is a full, real, numeric array of class id and exactly that shape.
bool is_real_array_of(const mxArray* array, mxClassID id, const std::vector<mwSize>& shape) {
  if (array == nullptr || mxGetClassID(array) != id || mxIsComplex(array) || mxIsSparse(array))
    return false;
  const mwSize ndim = mxGetNumberOfDimensions(array);
  const mwSize* dims = mxGetDimensions(array);
  const size_t expected = shape.size() < 2 ? 2 : shape.size();
  if (static_cast<size_t>(ndim) != expected) return false;
  for (size_t k = 0; k < expected; ++k) {
    if (static_cast<size_t>(dims[k]) != (k < shape.size() ? static_cast<size_t>(shape[k]) : 1))
      return false;
  }
  return true;
}
#endif

// A zero-filled real array. Octave copies an array made by mxCreateNumericArray into one of
// its own when the call returns, so a large output would touch twice its memory; an array
// Octave makes itself, through zeros, goes back as it is. Small ones are not worth the call
// into the interpreter.
mxArray* zeros_array(const std::vector<mwSize>& shape, mxClassID id, const char* className,
                     size_t elementSize) {
#if defined(HAVE_OCTAVE)
  constexpr double kThroughInterpreterFrom = 1 << 20;  // bytes
  double bytes = static_cast<double>(elementSize);
  for (mwSize d : shape) bytes *= static_cast<double>(d);
  if (bytes >= kThroughInterpreterFrom) {
    // zeros(n) would be n x n: a single dimension gets its trailing 1, as the host adds it.
    mxArray* size = mxCreateDoubleMatrix(1, shape.size() < 2 ? 2 : shape.size(), mxREAL);
    mxGetPr(size)[1] = 1;
    for (size_t k = 0; k < shape.size(); ++k) mxGetPr(size)[k] = static_cast<double>(shape[k]);
    // builtin("zeros", ...): Octave's own, never a zeros.m of the user's on the path.
    mxArray* args[3] = {mxCreateString("zeros"), size, mxCreateString(className)};
    mxArray* zeros = nullptr;
    mxArray* failure = mexCallMATLABWithTrap(1, &zeros, 3, args, "builtin");
    for (mxArray* arg : args) mxDestroyArray(arg);
    if (failure != nullptr) {
      mxDestroyArray(failure);
      throw std::bad_alloc();
    }
    // The plug-in writes only into an array of exactly the class and shape it asked for.
    if (is_real_array_of(zeros, id, shape)) return zeros;
    if (zeros != nullptr) mxDestroyArray(zeros);
  }
#else
  (void)className;
  (void)elementSize;
#endif
  return mxCreateNumericArray(shape.size(), shape.data(), id, mxREAL);
}

}  // namespace

const char* class_name(const mxArray* array) { return class_id_name(mxGetClassID(array)); }

MatrixArg<float> single_matrix(const mxArray* array, const char* name) {
  return matrix_of_class<float>(array, mxSINGLE_CLASS, "a single", name);
}

MatrixArg<int32_t> int32_matrix(const mxArray* array, const char* name) {
  return matrix_of_class<int32_t>(array, mxINT32_CLASS, "an int32", name);
}

MatrixArg<double> double_matrix(const mxArray* array, const char* name) {
  return matrix_of_class<double>(array, mxDOUBLE_CLASS, "a double", name);
}

template <class T>
MatrixArg<T> view_unless_empty(MatrixArg<T> (*view)(const mxArray*, const char*),
                               const mxArray* array, const char* name) {
  const size_t rows = mxGetM(array);
  const size_t cols = mxGetN(array);
  if (mxIsEmpty(array) && rows <= kMaxCount && cols <= kMaxCount) {
    return {nullptr, static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
  }
  return view(array, name);
}

template MatrixArg<float> view_unless_empty(MatrixArg<float> (*)(const mxArray*, const char*),
                                            const mxArray*, const char*);
template MatrixArg<int32_t> view_unless_empty(MatrixArg<int32_t> (*)(const mxArray*, const char*),
                                              const mxArray*, const char*);
template MatrixArg<double> view_unless_empty(MatrixArg<double> (*)(const mxArray*, const char*),
                                             const mxArray*, const char*);

int32_t int32_scalar(const mxArray* array, const char* name) {
  if (mxGetClassID(array) != mxINT32_CLASS || mxIsEmpty(array)) {
    throw Error(format("%s must be an int32 scalar (got %s%s)", name,
                       mxIsEmpty(array) ? "an empty " : "", class_name(array)));
  }
  return *static_cast<const int32_t*>(mxGetData(array));
}

double numeric_scalar(const mxArray* array, const char* name) {
  if (!is_numeric(mxGetClassID(array)) || mxIsEmpty(array)) {
    throw Error(format("%s must be a numeric scalar (got %s%s)", name,
                       mxIsEmpty(array) ? "an empty " : "", class_name(array)));
  }
  return mxGetScalar(array);
}

template <class T>
void require_at_least(const MatrixArg<T>& view, int32_t rows, int32_t cols, const char* name) {
  if (view.rows < rows || view.cols < cols) {
    throw Error(format("%s must be at least %d x %d (got %d x %d)", name, rows, cols, view.rows,
                       view.cols));
  }
}

template void require_at_least(const MatrixArg<float>&, int32_t, int32_t, const char*);
template void require_at_least(const MatrixArg<int32_t>&, int32_t, int32_t, const char*);
template void require_at_least(const MatrixArg<double>&, int32_t, int32_t, const char*);

template <class T>
void require_rows(const MatrixArg<T>& view, int32_t rows, const char* name) {
  if (view.rows != rows) {
    throw Error(format("%s must have %d rows (got %d x %d)", name, rows, view.rows, view.cols));
  }
}

template void require_rows(const MatrixArg<float>&, int32_t, const char*);
template void require_rows(const MatrixArg<int32_t>&, int32_t, const char*);
template void require_rows(const MatrixArg<double>&, int32_t, const char*);

void require_non_negative(int32_t count, const char* name) {
  if (count < 0) throw Error(format("%s must not be negative (got %d)", name, count));
}

int32_t checked_product(int32_t a, int32_t b, const char* what) {
  const int64_t product = int64_t{a} * int64_t{b};
  if (product > kMaxCount) {
    throw Error(format("%s would have %lld entries, more than %lld", what,
                       static_cast<long long>(product), static_cast<long long>(kMaxCount)));
  }
  return static_cast<int32_t>(product);
}

int32_t checked_product(int32_t a, int32_t b, int32_t c, const char* what) {
  if (a == 0 || b == 0 || c == 0) return 0;
  // Exact below 2^53, which is as far as anyone reads such a count.
  const double product = static_cast<double>(a) * b * c;
  if (product > static_cast<double>(kMaxCount)) {
    throw Error(format("%s would have %.0f entries, more than %lld", what, product,
                       static_cast<long long>(kMaxCount)));
  }
  return a * b * c;
}

mxArray* Outputs::store(int slot, mxArray* array) {
  if (!has(slot)) throw std::logic_error("output slot does not exist");
  if (array == nullptr) throw std::bad_alloc();
  if (stored_[static_cast<size_t>(slot)]) mxDestroyArray(plhs_[slot]);
  stored_[static_cast<size_t>(slot)] = true;
  plhs_[slot] = array;
  return array;
}

int32_t* Outputs::int32_array(int slot, std::initializer_list<int32_t> dims) {
  const std::vector<mwSize> shape = host_dims(dims);
  mxArray* array = zeros_array(shape, mxINT32_CLASS, "int32", sizeof(int32_t));
  store(slot, array);
  return mxIsEmpty(array) ? nullptr : static_cast<int32_t*>(mxGetData(array));
}

float* Outputs::single_array(int slot, std::initializer_list<int32_t> dims) {
  const std::vector<mwSize> shape = host_dims(dims);
  mxArray* array = zeros_array(shape, mxSINGLE_CLASS, "single", sizeof(float));
  store(slot, array);
  return mxIsEmpty(array) ? nullptr : static_cast<float*>(mxGetData(array));
}

double* Outputs::double_matrix(int slot, int32_t rows, int32_t cols) {
  const std::vector<mwSize> shape = host_dims({rows, cols});
  mxArray* array = zeros_array(shape, mxDOUBLE_CLASS, "double", sizeof(double));
  store(slot, array);
  return mxIsEmpty(array) ? nullptr : mxGetPr(array);
}

}  // namespace tulm
