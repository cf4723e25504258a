#include "config/bv_value.h"
#include "config/typed_blob_part.h"

#include <gtest/gtest.h>

using namespace KRVN;

namespace {

class ValueText : public ::testing::Test {
protected:
    CBuffer m_vector;
    CBVValue m_value{&m_vector};
};

} // namespace

TEST_F(ValueText, NumbersAndBooleans) {
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eVoid): {void()}"), m_value.ToString());
    m_value.SetBool(true);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eBool): {true}"), m_value.ToString());
    m_value.SetBool(false);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eBool): {false}"), m_value.ToString());
    m_value.SetUInt(0xFFFFFFFFu);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eUInt): {-1}"), m_value.ToString());
    m_value.SetULong(0xFFFFFFFFu);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eULong): {4294967295}"), m_value.ToString());
    m_value.SetLong(-12);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eLong): {-12}"), m_value.ToString());
    m_value.SetFloat(1.5f);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eFloat): {1.500000}"), m_value.ToString());
    m_value.SetDouble(-2.25);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eDouble): {-2.250000}"), m_value.ToString());
    m_value.SetULongPtr(0xBEEF);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eULongPtr): {beef}"), m_value.ToString());
}

TEST_F(ValueText, BlobsAsSizeAndHexBytes) {
    const unsigned char bytes[] = {0x0A, 0x0B, 0x0C};
    m_value.SetBlob(bytes, sizeof bytes);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eBlob): {size:3{0a0b0c}}"), m_value.ToString());
    m_value.SetBlob(nullptr, 0);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eBlob): {size:0{}}"), m_value.ToString());
}

TEST_F(ValueText, StringsAreCutAfter256Characters) {
    const WString longText(300, KRVN_WTEXT('w'));
    m_value.SetWString(longText);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eWString): {") + longText.substr(0, 256) + KRVN_WTEXT("}"),
              m_value.ToString());
    m_value.SetAString(std::string(300, 'a'));
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eAString): {") + WString(256, KRVN_WTEXT('a')) +
                  KRVN_WTEXT("}"),
              m_value.ToString());
}

TEST_F(ValueText, TypesWithoutTextPrintNotAvailable) {
    m_value.SetUShort(1);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (N/A): {N/A}"), m_value.ToString());
    m_value.Set(eWIString, "a\0", 2);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (eWIString): {N/A}"), m_value.ToString());
    m_value.Set(static_cast<ValueType>(99), nullptr, 0);
    EXPECT_EQ(KRVN_WTEXT("Value:BVValue (N/A): {N/A}"), m_value.ToString());
}

TEST(TypedPartText, PartIsNamedByItsIndex) {
    CTypedBlob blob;
    GetPartValue(blob, 4)->SetInt(7);
    EXPECT_EQ(KRVN_WTEXT("Value:4 (eInt): {7}"), GetPartValue(blob, 4)->ToString());
    EXPECT_EQ(KRVN_WTEXT("Value:2 (eVoid): {void()}"), GetPartValue(blob, 2)->ToString());
}
