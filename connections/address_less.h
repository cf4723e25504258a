#pragma once
// Order of server addresses: equal when they match after mapping A-Z to a-z
// (the "C" locale's case folding), code units otherwise compared as unsigned
// numbers, and a shorter address first on a common prefix. Server1 and
// SERVER1 are one key; srv orders before srv2.

#include <string>

struct AddressLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const noexcept;
};
