#pragma once
// Lets the compiler check a printf-style function's format string against its
// arguments. GCC is asked for the C99 formats by name (gnu_printf): under
// mingw plain `printf` means the Microsoft runtime's, whose formats differ
// from the ones this code writes. Clang knows only `printf`, which is C99.

#if defined(__clang__)
#define PRINTF_FORMAT(format_index, first_argument) \
  [[gnu::format(printf, format_index, first_argument)]]
#else
#define PRINTF_FORMAT(format_index, first_argument) \
  [[gnu::format(gnu_printf, format_index, first_argument)]]
#endif
