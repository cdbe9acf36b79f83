#include "core/errors.h"

#include <cstdarg>
#include <cstdio>

namespace tulm {

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, fmt, args);
  va_end(args);
  return text;
}

void throw_index_error(const char* name, int64_t value, int64_t row, int64_t col, int64_t lo,
                       int64_t hi) {
  throw Error(format("%s holds %lld at (%lld, %lld), outside %lld..%lld", name,
                     static_cast<long long>(value), static_cast<long long>(row),
                     static_cast<long long>(col), static_cast<long long>(lo),
                     static_cast<long long>(hi)));
}

}  // namespace tulm
