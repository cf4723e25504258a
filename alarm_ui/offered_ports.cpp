#include "alarm_ui/offered_ports.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

namespace {

constexpr const wchar_t* kAlwaysOffered[] = {L"COM1", L"COM2", L"COM3", L"COM4"};

// The digits of "COMn" without leading zeros ("0" stays), or nothing for
// any other name.
std::wstring_view PortNumber(const std::wstring& name) {
    if (name.size() <= 3 ||
        ::CompareStringOrdinal(name.c_str(), 3, L"COM", 3, TRUE) != CSTR_EQUAL) {
        return {};
    }
    std::wstring_view digits(name);
    digits.remove_prefix(3);
    if (!std::all_of(digits.begin(), digits.end(),
                     [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return {};
    }
    while (digits.size() > 1 && digits.front() == L'0') {
        digits.remove_prefix(1);
    }
    return digits;
}

int CompareIgnoringCase(const std::wstring& left, const std::wstring& right) {
    return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                  static_cast<int>(right.size()), TRUE) -
           CSTR_EQUAL;
}

// COMn first, by number (a longer number is larger), then by name.
bool PortLess(const std::wstring& left, const std::wstring& right) {
    const std::wstring_view leftNumber = PortNumber(left);
    const std::wstring_view rightNumber = PortNumber(right);
    if (leftNumber.empty() != rightNumber.empty()) {
        return !leftNumber.empty();
    }
    if (leftNumber.size() != rightNumber.size()) {
        return leftNumber.size() < rightNumber.size();
    }
    if (leftNumber != rightNumber) {
        return leftNumber < rightNumber;
    }
    return CompareIgnoringCase(left, right) < 0;
}

} // namespace

bool SamePortName(const std::wstring& left, const std::wstring& right) {
    return CompareIgnoringCase(left, right) == 0;
}

std::vector<std::wstring> OfferedPorts(const std::vector<std::wstring>& machinePorts) {
    std::vector<std::wstring> ports(std::begin(kAlwaysOffered), std::end(kAlwaysOffered));
    ports.insert(ports.end(), machinePorts.begin(), machinePorts.end());
    // Names that differ only in case sort next to each other, the first met first.
    std::stable_sort(ports.begin(), ports.end(), PortLess);
    ports.erase(std::unique(ports.begin(), ports.end(), SamePortName), ports.end());
    return ports;
}
