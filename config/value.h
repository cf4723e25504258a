#pragma once
// A typed configuration value seen through its serialized form: a 32-bit
// length, a 32-bit type code and the value bytes. Where the bytes live is
// up to the derived class. Reading is strict: a getter for one type never
// converts a value of another.

#include "config/buffer.h"
#include "config/value_type.h"
#include "config/wide_string.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace KRVN {

class CValue {
public:
    // Length and type code in front of the value bytes.
    static constexpr std::size_t kHeaderSize = 8;

    virtual ~CValue() = default;

    virtual WString GetName() const = 0;
    virtual void SetName(const WString& name) = 0;
    // eVoid when fewer than kHeaderSize bytes are stored.
    virtual ValueType GetType() const;
    // Number of value bytes; 0 when fewer than kHeaderSize bytes are stored.
    virtual std::size_t GetSize() const;
    // One line describing the value: Value:<name> (<type>): {<value text>}
    virtual WString ToString() const;
    // Replaces the whole serialized form.
    virtual void SetRaw(const void* bytes, std::size_t length) = 0;
    // Copies out at most size bytes of the serialized form. A vector value
    // returns the count copied, a blob part its whole length; Get takes the
    // smaller of the result and size as the bytes it has.
    virtual std::size_t GetRaw(void* buffer, std::size_t size) const = 0;
    virtual std::size_t GetRawSize() const = 0;

    // Stores a value of the given type (zero bytes when bytes is null).
    void Set(ValueType type, const void* bytes, std::size_t length);
    // Copies up to size value bytes into buffer and returns how many were
    // stored; buffer bytes beyond those are zeroed. Raises E_INVALIDARG when
    // the value is not of the given type or nothing is stored.
    std::size_t Get(ValueType type, void* buffer, std::size_t size) const;

    std::int32_t GetLong() const;
    std::uint32_t GetULong() const;
    std::int32_t GetInt() const;
    std::uint32_t GetUInt() const;
    bool GetBool() const;
    float GetFloat() const;
    double GetDouble() const;
    WString GetWString() const;
    std::string GetAString() const;
    CBuffer GetBlob() const;
    std::uint16_t GetUShort() const;
    std::uint8_t GetUChar() const;
    std::uint32_t GetULongPtr() const;

    void SetLong(std::int32_t value);
    void SetULong(std::uint32_t value);
    void SetInt(std::int32_t value);
    void SetUInt(std::uint32_t value);
    void SetBool(bool value);
    void SetFloat(float value);
    void SetDouble(double value);
    void SetWString(const WString& text);
    void SetAString(const std::string& text);
    void SetBlob(const void* bytes, std::size_t length);
    void SetBlob(const CBuffer& bytes);
    void SetUShort(std::uint16_t value);
    void SetUChar(std::uint8_t value);
    void SetULongPtr(std::uint32_t value);

private:
    std::uint32_t Get32(ValueType type) const;
    void Set32(ValueType type, std::uint32_t value);
    WString ValueText() const;
};

} // namespace KRVN
