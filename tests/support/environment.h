// This process's environment, set the same way on every system the tests run on.
#ifndef TULM_TESTS_SUPPORT_ENVIRONMENT_H
#define TULM_TESTS_SUPPORT_ENVIRONMENT_H

#include <cstdlib>
#include <string>

namespace tulm_test {

// Sets a variable of this process's environment, or removes it when value is empty; 0 on
// success.
inline int set_environment(const char* name, const std::string& value) {
#if defined(_WIN32)
  return _putenv_s(name, value.c_str());  // an empty value removes the variable
#else
  return value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
#endif
}

}  // namespace tulm_test

#endif  // TULM_TESTS_SUPPORT_ENVIRONMENT_H
