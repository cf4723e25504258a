#include "config/value_type.h"

namespace KRVN {

const char* ValueTypeName(std::uint32_t type) noexcept {
    switch (type) {
    case eVoid:
        return "eVoid";
    case eLong:
        return "eLong";
    case eULong:
        return "eULong";
    case eInt:
        return "eInt";
    case eUInt:
        return "eUInt";
    case eBool:
        return "eBool";
    case eFloat:
        return "eFloat";
    case eDouble:
        return "eDouble";
    case eWString:
        return "eWString";
    case eAString:
        return "eAString";
    case eWIString:
        return "eWIString";
    case eAIString:
        return "eAIString";
    case eBlob:
        return "eBlob";
    case eTime64:
        return "eTime64";
    case eULongPtr:
        return "eULongPtr";
    default:
        return "N/A";
    }
}

} // namespace KRVN
