#include "config/value.h"

#include "common/ca_exception.h"
#include "config/ansi_codepage.h"
#include "config/little_endian.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace KRVN {

namespace {

// Longest text the text form shows of a string value.
constexpr std::size_t kMaxTextChars = 256;

// The length field is 32-bit, and the scratch area of Get adds the header.
constexpr std::size_t kMaxValueBytes = std::numeric_limits<std::uint32_t>::max();

[[noreturn]] void RaiseInvalidArg() {
    RaiseCAException(kE_INVALIDARG, "", "", 0);
}

WString Widen(const std::string& ascii) {
    return WString(ascii.begin(), ascii.end());
}

template <class Number> std::string FormatFixed(Number value) {
    const double number = static_cast<double>(value);
    const int length = std::snprintf(nullptr, 0, "%f", number);
    if (length <= 0) {
        return std::string();
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), "%f", number);
    return std::string(text.data(), static_cast<std::size_t>(length));
}

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

WString Truncated(WString text) {
    if (text.size() > kMaxTextChars) {
        text.resize(kMaxTextChars);
    }
    return text;
}

} // namespace

ValueType CValue::GetType() const {
    unsigned char header[kHeaderSize] = {};
    if (GetRaw(header, sizeof header) < kHeaderSize) {
        return eVoid;
    }
    return static_cast<ValueType>(LoadLE32(header + 4));
}

std::size_t CValue::GetSize() const {
    const std::size_t raw = GetRawSize();
    return raw < kHeaderSize ? 0 : raw - kHeaderSize;
}

void CValue::Set(ValueType type, const void* bytes, std::size_t length) {
    if (length > kMaxValueBytes - kHeaderSize) {
        RaiseInvalidArg();
    }
    CBuffer form(kHeaderSize + length);
    StoreLE32(form.Data(), static_cast<std::uint32_t>(length));
    StoreLE32(form.Data() + 4, type);
    if (bytes != nullptr && length != 0) {
        std::memcpy(form.Data() + kHeaderSize, bytes, length);
    }
    SetRaw(form.Data(), form.Size());
}

std::size_t CValue::Get(ValueType type, void* buffer, std::size_t size) const {
    if (size > kMaxValueBytes - kHeaderSize) {
        RaiseInvalidArg();
    }
    if (buffer == nullptr && size != 0) {
        RaiseCAException(kE_POINTER, "", "", 0);
    }
    CBuffer scratch(kHeaderSize + size);
    const std::size_t reported = GetRaw(scratch.Data(), scratch.Size());
    // Only what both the value and the scratch area hold was copied.
    const std::size_t stored = reported < scratch.Size() ? reported : scratch.Size();
    if (stored < kHeaderSize || LoadLE32(scratch.Data() + 4) != type) {
        RaiseInvalidArg();
    }
    const std::size_t copied = stored - kHeaderSize;
    if (size != 0) {
        std::memcpy(buffer, scratch.Data() + kHeaderSize, copied);
        std::memset(static_cast<unsigned char*>(buffer) + copied, 0, size - copied);
    }
    return copied;
}

std::uint32_t CValue::Get32(ValueType type) const {
    unsigned char bytes[4];
    Get(type, bytes, sizeof bytes);
    return LoadLE32(bytes);
}

void CValue::Set32(ValueType type, std::uint32_t value) {
    unsigned char bytes[4];
    StoreLE32(bytes, value);
    Set(type, bytes, sizeof bytes);
}

std::int32_t CValue::GetLong() const {
    return static_cast<std::int32_t>(Get32(eLong));
}

std::uint32_t CValue::GetULong() const {
    return Get32(eULong);
}

std::int32_t CValue::GetInt() const {
    return static_cast<std::int32_t>(Get32(eInt));
}

std::uint32_t CValue::GetUInt() const {
    return Get32(eUInt);
}

bool CValue::GetBool() const {
    unsigned char byte = 0;
    Get(eBool, &byte, 1);
    return byte != 0;
}

float CValue::GetFloat() const {
    const std::uint32_t bits = Get32(eFloat);
    float value;
    static_assert(sizeof value == sizeof bits, "IEEE single");
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double CValue::GetDouble() const {
    unsigned char bytes[8];
    Get(eDouble, bytes, sizeof bytes);
    const std::uint64_t bits =
        LoadLE32(bytes) | (static_cast<std::uint64_t>(LoadLE32(bytes + 4)) << 32);
    double value;
    static_assert(sizeof value == sizeof bits, "IEEE double");
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

WString CValue::GetWString() const {
    const std::size_t chars = GetSize() / 2;
    CBuffer bytes(chars * 2);
    Get(eWString, bytes.Data(), bytes.Size());
    WString text(chars, WChar());
    for (std::size_t i = 0; i < chars; ++i) {
        text[i] = static_cast<WChar>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return text;
}

std::string CValue::GetAString() const {
    CBuffer bytes(GetSize());
    Get(eAString, bytes.Data(), bytes.Size());
    return std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.Size());
}

CBuffer CValue::GetBlob() const {
    CBuffer bytes(GetSize());
    Get(eBlob, bytes.Data(), bytes.Size());
    return bytes;
}

std::uint16_t CValue::GetUShort() const {
    unsigned char bytes[2];
    Get(eUShort, bytes, sizeof bytes);
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint8_t CValue::GetUChar() const {
    std::uint8_t byte = 0;
    Get(eUChar, &byte, 1);
    return byte;
}

std::uint32_t CValue::GetULongPtr() const {
    return Get32(eULongPtr);
}

void CValue::SetLong(std::int32_t value) {
    Set32(eLong, static_cast<std::uint32_t>(value));
}

void CValue::SetULong(std::uint32_t value) {
    Set32(eULong, value);
}

void CValue::SetInt(std::int32_t value) {
    Set32(eInt, static_cast<std::uint32_t>(value));
}

void CValue::SetUInt(std::uint32_t value) {
    Set32(eUInt, value);
}

void CValue::SetBool(bool value) {
    const unsigned char byte = value ? 1 : 0;
    Set(eBool, &byte, 1);
}

void CValue::SetFloat(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Set32(eFloat, bits);
}

void CValue::SetDouble(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    unsigned char bytes[8];
    StoreLE32(bytes, static_cast<std::uint32_t>(bits));
    StoreLE32(bytes + 4, static_cast<std::uint32_t>(bits >> 32));
    Set(eDouble, bytes, sizeof bytes);
}

void CValue::SetWString(const WString& text) {
    if (text.size() > (kMaxValueBytes - kHeaderSize) / 2) {
        RaiseInvalidArg();
    }
    CBuffer bytes(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<std::uint16_t>(text[i]);
        bytes[2 * i] = static_cast<unsigned char>(unit);
        bytes[2 * i + 1] = static_cast<unsigned char>(unit >> 8);
    }
    Set(eWString, bytes.Data(), bytes.Size());
}

void CValue::SetAString(const std::string& text) {
    Set(eAString, text.data(), text.size());
}

void CValue::SetBlob(const void* bytes, std::size_t length) {
    Set(eBlob, bytes, length);
}

void CValue::SetBlob(const CBuffer& bytes) {
    Set(eBlob, bytes.Data(), bytes.Size());
}

void CValue::SetUShort(std::uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value),
                                    static_cast<unsigned char>(value >> 8)};
    Set(eUShort, bytes, sizeof bytes);
}

void CValue::SetUChar(std::uint8_t value) {
    Set(eUChar, &value, 1);
}

void CValue::SetULongPtr(std::uint32_t value) {
    Set32(eULongPtr, value);
}

WString CValue::ToString() const {
    return KRVN_WTEXT("Value:") + GetName() + KRVN_WTEXT(" (") + Widen(ValueTypeName(GetType())) +
           KRVN_WTEXT("): {") + ValueText() + KRVN_WTEXT("}");
}

WString CValue::ValueText() const {
    switch (GetType()) {
    case eVoid:
        return KRVN_WTEXT("void()");
    case eLong:
        return Widen(std::to_string(GetLong()));
    case eULong:
        return Widen(std::to_string(GetULong()));
    case eInt:
        return Widen(std::to_string(GetInt()));
    case eUInt:
        return Widen(std::to_string(static_cast<std::int32_t>(GetUInt())));
    case eBool:
        return GetBool() ? KRVN_WTEXT("true") : KRVN_WTEXT("false");
    case eFloat:
        return Widen(FormatFixed(GetFloat()));
    case eDouble:
        return Widen(FormatFixed(GetDouble()));
    case eWString:
        return Truncated(GetWString());
    case eAString:
        return Truncated(AnsiToWide(GetAString()));
    case eBlob: {
        const CBuffer bytes = GetBlob();
        std::string text = "size:" + std::to_string(bytes.Size()) + "{";
        static const char kDigits[] = "0123456789abcdef";
        for (std::size_t i = 0; i < bytes.Size(); ++i) {
            text.push_back(kDigits[bytes[i] >> 4]);
            text.push_back(kDigits[bytes[i] & 0x0F]);
        }
        return Widen(text + "}");
    }
    case eULongPtr:
        return Widen(Hex(GetULongPtr()));
    default:
        return KRVN_WTEXT("N/A");
    }
}

} // namespace KRVN
