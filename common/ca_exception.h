#pragma once
// The exception of the component library and the configuration store.
// Plain standard C++ so that the configuration code also builds natively.

#include <cstdint>
#include <string>

class CAException {
public:
    CAException(std::int32_t code, std::string file, std::string date, std::int32_t line)
        : m_code(code), m_file(std::move(file)), m_date(std::move(date)), m_line(line) {}

    std::int32_t Code() const noexcept { return m_code; }
    const std::string& File() const noexcept { return m_file; }
    const std::string& Date() const noexcept { return m_date; }
    std::int32_t Line() const noexcept { return m_line; }

    // Throws a fresh copy of this exception.
    [[noreturn]] void Raise() const { throw CAException(*this); }

private:
    std::int32_t m_code;
    std::string m_file;
    std::string m_date;
    std::int32_t m_line;
};

// Builds a CAException and throws it by value.
[[noreturn]] void RaiseCAException(std::int32_t code, const char* file, const char* date,
                                   std::int32_t line);

// Raise sites name their own file, the compile date ("Mar 16 2009") and line.
#define KRVN_RAISE(code) ::RaiseCAException((code), __FILE__, __DATE__, __LINE__)

namespace KRVN {

// HRESULT-style codes used by plain C++ code that cannot include Windows headers.
constexpr std::int32_t kE_FAIL = static_cast<std::int32_t>(0x80004005u);
constexpr std::int32_t kE_INVALIDARG = static_cast<std::int32_t>(0x80070057u);
constexpr std::int32_t kE_POINTER = static_cast<std::int32_t>(0x80004003u);
constexpr std::int32_t kE_OUTOFMEMORY = static_cast<std::int32_t>(0x8007000Eu);

// A Win32 status s is the HRESULT s when s <= 0, else (s & 0xFFFF) | 0x80070000.
constexpr std::int32_t HResultFromStatus(std::int32_t status) noexcept {
    return status <= 0 ? status
                       : static_cast<std::int32_t>((static_cast<std::uint32_t>(status) & 0xFFFFu) |
                                                   0x80070000u);
}

} // namespace KRVN
