#pragma once
// Text operations of the host's ANSI code page. Windows: the multibyte functions of
// the current code page (_mbslwr, _mbsstr, _mbscmp) and lstrcmpA. POSIX: the same
// operations on single-byte text, where only ASCII letters have a case.

#include <cstddef>

namespace platform {

// Lower-cases `text` in place; every character keeps its byte position.
void LowerCaseInPlace(char* text);
// The byte offset of the first occurrence of `needle` in `text`, or -1
// (case-sensitive, multibyte-aware).
std::ptrdiff_t FindText(const char* text, const char* needle);
// Case-sensitive comparison of whole strings in the code page: 0 when equal.
int CompareText(const char* a, const char* b);
// The locale-aware, case-sensitive comparison of whole strings: 0 when equal.
int CompareTextLocale(const char* a, const char* b);

}  // namespace platform
