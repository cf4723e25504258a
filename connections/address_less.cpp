#include "connections/address_less.h"

#include <algorithm>

namespace {

unsigned Fold(wchar_t unit) noexcept {
    const auto value = static_cast<unsigned>(static_cast<unsigned short>(unit));
    return value >= L'A' && value <= L'Z' ? value + (L'a' - L'A') : value;
}

} // namespace

bool AddressLess::operator()(const std::wstring& a, const std::wstring& b) const noexcept {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned left = Fold(a[i]);
        const unsigned right = Fold(b[i]);
        if (left != right) {
            return left < right;
        }
    }
    return a.size() < b.size();
}
