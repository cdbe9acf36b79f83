// The compiler extensions the toolbox uses, each behind one macro with a plain fallback, so
// that every file compiles as standard C++17 with GCC, Clang, MinGW-w64 and MSVC. None of
// them changes a result: they check, hint or set symbol visibility.
#ifndef TULM_CORE_PORTABILITY_H
#define TULM_CORE_PORTABILITY_H

#include <cstdint>

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

namespace tulm {

// The number of zero bits below the lowest set bit of bits, which is not 0: one instruction
// where the compiler has it, else a de Bruijn sequence's window at the lowest bit names it.
inline int lowest_bit(uint64_t bits) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_ctzll(bits);
#else
  static const uint8_t kPositions[64] = {
      0,  1,  2,  53, 3,  7,  54, 27, 4,  38, 41, 8,  34, 55, 48, 28, 62, 5,  39, 46, 44, 42,
      22, 9,  24, 35, 59, 56, 49, 18, 29, 11, 63, 52, 6,  26, 37, 40, 33, 47, 61, 45, 43, 21,
      23, 58, 17, 10, 51, 25, 36, 32, 60, 20, 57, 16, 50, 31, 19, 15, 30, 14, 13, 12};
  return kPositions[((bits & (~bits + 1)) * 0x022fdd63cc95386dull) >> 58];
#endif
}

// The number of set bits of bits.
inline int count_bits(uint64_t bits) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_popcountll(bits);
#else
  int count = 0;
  for (; bits != 0; bits &= bits - 1) ++count;
  return count;
#endif
}

}  // namespace tulm

// Defined where the SSE2 intrinsics of <emmintrin.h> can be used (every x86-64 compiler, and
// 32-bit x86 built for SSE2): lanes of IEEE single and double operations, each rounded as the
// scalar operation is, so a routine may take them without changing a bit.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define TULM_HAVE_SSE2 1
#endif

// Defined where a function can be compiled for AVX2 alone (TULM_TARGET_AVX2 before it) and
// the processor asked whether it has AVX2 (TULM_PROCESSOR_HAS_AVX2()): GCC and Clang on x86,
// but not for Windows, where GCC may keep 32-byte vectors on a stack aligned to 16 bytes. Only
// AVX2 is named, never FMA, so such a function rounds every operation as written.
#if defined(TULM_HAVE_SSE2) && (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#define TULM_HAVE_AVX2_TARGET 1
#define TULM_TARGET_AVX2 __attribute__((target("avx2")))
#define TULM_PROCESSOR_HAS_AVX2() (__builtin_cpu_supports("avx2") != 0)
#endif

// Defined where a function can be compiled for AVX-512's foundation instructions
// (TULM_TARGET_AVX512 before it) and the processor asked whether it has them and the system keeps
// their registers (TULM_PROCESSOR_HAS_AVX512()): wherever TULM_HAVE_AVX2_TARGET is. The target
// brings fused multiply-adds along, which the build's -ffp-contract=off keeps the compiler from
// forming: such a function too rounds every operation as written.
#if defined(TULM_HAVE_AVX2_TARGET)
#define TULM_HAVE_AVX512_TARGET 1
#define TULM_TARGET_AVX512 __attribute__((target("avx512f")))
#define TULM_PROCESSOR_HAS_AVX512() (__builtin_cpu_supports("avx512f") != 0)
// Whether the processor is Intel's, and whether it has AVX512-FP16 (Sapphire Rapids and later),
// which lane_choice.cpp asks to know where gathers are fast. CPUID is asked directly, as Clang
// 14's __builtin_cpu_supports does not know the feature.
#define TULM_PROCESSOR_IS_INTEL() (__builtin_cpu_is("intel") != 0)
#define TULM_PROCESSOR_HAS_AVX512_FP16() (tulm::processor_has_avx512_fp16())
// GCC 12's AVX-512 intrinsics fill the lanes they leave undefined from a variable set from
// itself, which -Wuninitialized reports wherever one is inlined; those lanes are never read.
// Included here first, so that the header's lines carry the pragma wherever it is included.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <cpuid.h>
namespace tulm {
inline bool processor_has_avx512_fp16() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (edx >> 23 & 1) != 0;
}
}  // namespace tulm
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
