#pragma once
// UTF-16 text of the configuration store. On Windows wchar_t is a UTF-16 code
// unit, so the registry store and the COM code hand std::wstring and BSTR
// contents straight through. The native sanitizer and fuzzer builds run on a
// host whose wchar_t is 4 bytes; there char16_t takes its place. Stored bytes
// are produced unit by unit as UTF-16LE in both builds.

#include <string>

#ifdef _WIN32
#define KRVN_WTEXT(text) L##text
#else
#define KRVN_WTEXT(text) u##text
#endif

namespace KRVN {

#ifdef _WIN32
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif
using WString = std::basic_string<WChar>;

static_assert(sizeof(WChar) == 2, "the stored text is UTF-16");

} // namespace KRVN
