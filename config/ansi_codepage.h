#pragma once
// Conversions between UTF-16 and the ANSI code page of the calling thread's
// locale: the text form of eAString values and the text the socket transport
// sends. Characters that the code page cannot express are replaced, never
// dropped silently into a shorter string.

#include "config/wide_string.h"

#include <string>

namespace KRVN {

WString AnsiToWide(const std::string& text);
std::string WideToAnsi(const WString& text);

} // namespace KRVN
