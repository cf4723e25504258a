#include "common/ca_exception.h"
#include "config/bv_value.h"
#include "image_bytes.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace KRVN;

namespace {

// The code a getter raised, or 0 when it did not raise.
template <class Getter> std::int32_t RaisedBy(Getter getter) {
    try {
        getter();
    } catch (const CAException& e) {
        EXPECT_EQ("", e.File());
        EXPECT_EQ(0, e.Line());
        return e.Code();
    }
    return 0;
}

} // namespace

TEST(CBVValue, EmptyVectorIsVoidAndEveryGetterRaisesInvalidArg) {
    CBuffer vector;
    CBVValue value(&vector);
    EXPECT_EQ(eVoid, value.GetType());
    EXPECT_EQ(0u, value.GetSize());
    EXPECT_EQ(static_cast<std::int32_t>(0x80070057u), RaisedBy([&] { value.GetInt(); }));
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetWString(); }));
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetBlob(); }));
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetBool(); }));
}

TEST(CBVValue, SetWritesLengthTypeAndLittleEndianBytes) {
    CBuffer vector;
    CBVValue value(&vector);
    value.SetWString(KRVN_WTEXT("alrm_4.2"));
    Bytes expected = Words({16, 8});
    AddUtf16(expected, "alrm_4.2");
    EXPECT_EQ(expected, ToBytes(vector));
    EXPECT_EQ(24u, value.GetRawSize());
    EXPECT_EQ(16u, value.GetSize());

    value.SetInt(-2);
    EXPECT_EQ(Words({4, 3, 0xFFFFFFFEu}), ToBytes(vector));
    value.SetDouble(1.0);
    EXPECT_EQ(Words({8, 7, 0, 0x3FF00000u}), ToBytes(vector));
}

TEST(CBVValue, EveryGetterReadsBackItsOwnSetter) {
    CBuffer vector;
    CBVValue value(&vector);
    value.SetLong(-5);
    EXPECT_EQ(-5, value.GetLong());
    value.SetULong(0xFFFFFFFFu);
    EXPECT_EQ(0xFFFFFFFFu, value.GetULong());
    value.SetUInt(7u);
    EXPECT_EQ(7u, value.GetUInt());
    value.SetBool(true);
    EXPECT_TRUE(value.GetBool());
    value.SetFloat(0.25f);
    EXPECT_EQ(0.25f, value.GetFloat());
    value.SetDouble(-3.5);
    EXPECT_EQ(-3.5, value.GetDouble());
    value.SetAString("COM3");
    EXPECT_EQ("COM3", value.GetAString());
    value.SetUShort(0xBEEF);
    EXPECT_EQ(0xBEEF, value.GetUShort());
    value.SetUChar(0x7F);
    EXPECT_EQ(0x7F, value.GetUChar());
    value.SetULongPtr(0x12345678u);
    EXPECT_EQ(0x12345678u, value.GetULongPtr());
    const unsigned char secret[] = {'p', 0, 'w', 0};
    value.SetBlob(secret, sizeof secret);
    EXPECT_EQ(Bytes(secret, secret + 4), ToBytes(value.GetBlob()));
    // Stored NUL characters are part of the text.
    const WString withNul(KRVN_WTEXT("a\0b"), 3);
    value.SetWString(withNul);
    EXPECT_EQ(withNul, value.GetWString());
}

TEST(CBVValue, ReadingIsStrictlyTyped) {
    CBuffer vector;
    CBVValue value(&vector);
    value.SetULong(1);
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetInt(); }));
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetLong(); }));
    value.SetWString(KRVN_WTEXT("x"));
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetBlob(); }));
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetAString(); }));
}

TEST(CBVValue, ShortStoredValuesReadWithZerosAndShortHeadersAsVoid) {
    CBuffer vector;
    CBVValue value(&vector);
    // eULong with only two value bytes.
    Bytes form = Words({2, 2});
    form.push_back(0x34);
    form.push_back(0x12);
    value.SetRaw(form.data(), form.size());
    EXPECT_EQ(0x1234u, value.GetULong());
    unsigned char out[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(2u, value.Get(eULong, out, sizeof out));
    EXPECT_EQ(0, out[2]);
    EXPECT_EQ(0, out[3]);

    // An eWString of zero bytes is an empty text; an odd byte is dropped.
    const Bytes emptyText = Words({0, 8});
    value.SetRaw(emptyText.data(), emptyText.size());
    EXPECT_TRUE(value.GetWString().empty());
    Bytes odd = Words({3, 8});
    odd.insert(odd.end(), {'a', 0, 'b'});
    value.SetRaw(odd.data(), odd.size());
    EXPECT_EQ(KRVN_WTEXT("a"), value.GetWString());

    const unsigned char partial[] = {4, 0, 0, 0, 3};
    value.SetRaw(partial, sizeof partial);
    EXPECT_EQ(eVoid, value.GetType());
    EXPECT_EQ(0u, value.GetSize());
    EXPECT_EQ(kE_INVALIDARG, RaisedBy([&] { value.GetInt(); }));
}
