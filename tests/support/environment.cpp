#include "tests/support/environment.h"

#include <windows.h>

#include <cstdlib>

namespace krvn_test {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::wstring DosPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (const char c : unixPath) {
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    }
    return path;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

bool RunUnix(std::vector<std::string> argv) {
    using SpawnFn = LONG(WINAPI*)(char* const argv[], int wait);
    const auto spawn = reinterpret_cast<SpawnFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    std::vector<char*> arguments;
    for (std::string& argument : argv) {
        arguments.push_back(argument.data());
    }
    arguments.push_back(nullptr);
    return spawn && spawn(arguments.data(), 1) == 0;
}

} // namespace krvn_test
