// Lets the compiler check printf-style calls where it knows how; a compiler
// difference, not a platform one.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define P50X_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define P50X_PRINTF_FORMAT(formatIndex, firstArgument)
#endif
