#include "config/ansi_codepage.h"

#include "common/code_page.h"

namespace KRVN {

WString AnsiToWide(const std::string& text) {
    return CodePageToWide(CP_THREAD_ACP, text);
}

std::string WideToAnsi(const WString& text) {
    return WideToCodePage(CP_THREAD_ACP, text);
}

} // namespace KRVN
