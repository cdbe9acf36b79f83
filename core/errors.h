// The one way core code ends a call: throw tulm::Error with the exact text the user sees.
// The gateway's error boundary turns it into the host's error after every local object has
// been destroyed, so core code owns its scratch memory through RAII and never calls the host.
#ifndef TULM_CORE_ERRORS_H
#define TULM_CORE_ERRORS_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "core/portability.h"

namespace tulm {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// printf-style formatting into a std::string, for messages that carry values.
std::string format(const char* fmt, ...) TULM_PRINTF_FORMAT(1, 2);

// Ends the call because table `name` holds `value` at (row, col), both 1-based as the user
// sees them, outside lo..hi: "faces holds 7 at (2, 3), outside 1..5".
[[noreturn]] void throw_index_error(const char* name, int64_t value, int64_t row, int64_t col,
                                    int64_t lo, int64_t hi);

// Checks one table entry where it is read; row and col are 0-based positions in the table.
inline void check_index(const char* name, int32_t value, int32_t row, int32_t col, int32_t lo,
                        int32_t hi) {
  if (value < lo || value > hi)
    throw_index_error(name, value, int64_t{row} + 1, int64_t{col} + 1, lo, hi);
}

}  // namespace tulm

#endif  // TULM_CORE_ERRORS_H
