#pragma once
// Type codes of the typed configuration values, as stored.

#include <cstdint>

namespace KRVN {

enum ValueType : std::uint32_t {
    eVoid = 0,
    eLong = 1,
    eULong = 2,
    eInt = 3,
    eUInt = 4,
    eBool = 5,
    eFloat = 6,
    eDouble = 7,
    eWString = 8,
    eAString = 9,
    eWIString = 10,
    eAIString = 11,
    eBlob = 12,
    eUShort = 13,
    eUChar = 14,
    eTime64 = 15,
    eULongPtr = 16,
};

// The name the text form prints for a type code; "N/A" for codes without one.
const char* ValueTypeName(std::uint32_t type) noexcept;

} // namespace KRVN
