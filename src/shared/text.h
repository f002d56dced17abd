// Bounded copies into fixed narrow buffers.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// Copies `length` bytes of `source` and a terminator into `out`. When they do
// not fit in `capacity` bytes, `out` is left empty and the answer is 0.
int CopyBounded(char* out, size_t capacity, const char* source, size_t length);

// `out` = `first` + `second`, terminated; empty and 0 when it would not fit.
int JoinText(char* out, size_t capacity, const char* first, const char* second);

// printf into `out`, always terminated; a text that does not fit is cut.
void FormatBounded(char* out, size_t capacity, const char* format, ...);
void FormatBoundedV(char* out, size_t capacity, const char* format, va_list arguments);

// A Content-Length is decimal digits. Text that is no number at all is
// unknown (kLengthUnknown: the body is read to its end); a number of any other
// form (a sign, a fraction, an exponent) or one over `cap` is kLengthRefused.
const long long kLengthUnknown = -1;
const long long kLengthRefused = -2;
long long ParseContentLength(const wchar_t* text, unsigned long cap);
