// The compiler extensions the toolbox uses, each behind one macro with a plain fallback, so
// that every file compiles as standard C++17 with GCC, Clang, MinGW-w64 and MSVC. None of
// them changes a result: they check, hint or set symbol visibility.
#ifndef TULM_CORE_PORTABILITY_H
#define TULM_CORE_PORTABILITY_H

#if defined(_MSC_VER) && !defined(__clang__) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#endif

// Lets the compiler check the arguments of a printf-style function against its format;
// formatIndex and firstArg are the 1-based positions of the format and of the first value.
// MSVC checks formats only through annotations on the parameter, which we do without.
// MinGW-w64 formats either as C99 says or as the Windows C runtime does (no %zu there), and
// names the convention its stdio follows.
#if defined(__MINGW32__)
#include <cstdio>
#define TULM_PRINTF_FORMAT(formatIndex, firstArg) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArg)))
#elif defined(__GNUC__) || defined(__clang__)
#define TULM_PRINTF_FORMAT(formatIndex, firstArg) \
  __attribute__((format(printf, formatIndex, firstArg)))
#else
#define TULM_PRINTF_FORMAT(formatIndex, firstArg)
#endif

// Asks for the cache line at address to be read soon; a hint only, never a fault.
#if defined(__GNUC__) || defined(__clang__)
#define TULM_PREFETCH(address) __builtin_prefetch(address)
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#define TULM_PREFETCH(address) _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0)
#else
#define TULM_PREFETCH(address) ((void)(address))
#endif

// Marks a function that a shared library exports (TULM_SHARED_EXPORT, while building the
// library) or that its users import (TULM_SHARED_IMPORT). Windows DLLs export only what is
// marked; elsewhere the library is compiled with hidden visibility and the mark makes the
// function visible again.
#if defined(_WIN32)
#define TULM_SHARED_EXPORT __declspec(dllexport)
#define TULM_SHARED_IMPORT __declspec(dllimport)
#elif defined(__GNUC__) || defined(__clang__)
#define TULM_SHARED_EXPORT __attribute__((visibility("default")))
#define TULM_SHARED_IMPORT __attribute__((visibility("default")))
#else
#define TULM_SHARED_EXPORT
#define TULM_SHARED_IMPORT
#endif

#endif  // TULM_CORE_PORTABILITY_H
