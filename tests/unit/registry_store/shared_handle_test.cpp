// CSharedHandle over registry keys: values moved in and out as serialized
// typed values, against the registry of the test prefix.

#include <gtest/gtest.h>

#include <algorithm>

#include "config/shared_handle.h"
#include "config/value_type.h"
#include "tests/unit/registry_store/registry_test_support.h"

namespace krvn_test {
namespace {

using KRVN::CSharedKey;

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002);
constexpr HRESULT kMoreData = static_cast<HRESULT>(0x800700EA);
constexpr HRESULT kUnsupportedType = static_cast<HRESULT>(0x8007065E);

// The serialized form: value length, type code, value bytes.
Bytes Form(std::uint32_t type, const Bytes& bytes) {
    Bytes form = Words({static_cast<std::uint32_t>(bytes.size()), type});
    form.insert(form.end(), bytes.begin(), bytes.end());
    return form;
}

// Reads the way the store does: the size first, then the value into a zeroed
// buffer of that size.
HRESULT ReadForm(CSharedKey& key, const wchar_t* path, Bytes& form) {
    DWORD size = 0;
    const HRESULT hr = key.GetValue(path, nullptr, &size);
    if (hr != S_OK)
        return hr;
    form.assign(size, 0);
    return key.GetValue(path, form.data(), &size);
}

// The buffer holds the expected form, and zeros after it.
void ExpectForm(const Bytes& expected, const Bytes& buffer) {
    ASSERT_GE(buffer.size(), expected.size());
    EXPECT_EQ(expected, Bytes(buffer.begin(), buffer.begin() + expected.size()));
    EXPECT_TRUE(std::all_of(buffer.begin() + expected.size(), buffer.end(),
                            [](unsigned char b) { return b == 0; }));
}

class SharedHandleTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(S_OK, key.Create(kMainKey));
    }

    CSharedKey key;
};

TEST_F(SharedHandleTest, TextIsReadUpToItsFirstNulAndNeverExpanded) {
    struct Case {
        DWORD type;
        Bytes data;
        DWORD written;
        std::wstring text;
    };
    const Case cases[] = {
        {REG_EXPAND_SZ, Utf16(std::wstring(L"%SystemRoot%\\x\0", 15)), 30, L"%SystemRoot%\\x"},
        {REG_SZ, Utf16(std::wstring(L"ab\0cd\0", 6)), 12, L"ab"},
        // The registry adds a missing terminator unless a character follows.
        {REG_SZ, Utf16(L"abcX"), 6, L"abc"},
        {REG_SZ, Utf16(L"abcX"), 5, L"ab"},
        {REG_SZ, Bytes{}, 0, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        WriteValue(kMainKey, L"Text", c.type, c.data.data(), c.written);
        ASSERT_EQ(c.written, ReadStored(kMainKey, L"Text").data.size());
        Bytes form;
        ASSERT_EQ(S_OK, ReadForm(key, L"Text", form));
        EXPECT_EQ(c.written + 8, form.size());
        ExpectForm(Form(KRVN::eWString, Utf16(c.text)), form);
    }
}

TEST_F(SharedHandleTest, DwordOfAnyLengthReadsAsOneULong) {
    struct Case {
        Bytes data;
        DWORD reported;
        std::uint32_t value;
    };
    const Case cases[] = {
        {Words({0x11223344}), 12, 0x11223344},
        {Words({0x55667788, 0x11223344}), 16, 0x55667788},
        {Bytes{5, 0}, 12, 5},
        {Bytes{}, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        WriteValue(kMainKey, L"Number", REG_DWORD, c.data);
        DWORD size = 0;
        ASSERT_EQ(S_OK, key.GetValue(L"Number", nullptr, &size));
        EXPECT_EQ(c.reported, size);
        Bytes form;
        ASSERT_EQ(S_OK, ReadForm(key, L"Number", form));
        ExpectForm(Form(KRVN::eULong, Words({c.value})), form);
    }
}

TEST_F(SharedHandleTest, BinaryNeedsItsSizePlusTheHeader) {
    const Bytes data{1, 2, 3, 4, 5};
    WriteValue(kMainKey, L"Bytes", REG_BINARY, data);
    DWORD size = 0;
    ASSERT_EQ(S_OK, key.GetValue(L"Bytes", nullptr, &size));
    EXPECT_EQ(13u, size);

    Bytes buffer(size, 0);
    ASSERT_EQ(S_OK, key.GetValue(L"Bytes", buffer.data(), &size));
    EXPECT_EQ(Form(KRVN::eBlob, data), buffer);

    Bytes small(12, 0xCC);
    size = 12;
    EXPECT_EQ(kMoreData, key.GetValue(L"Bytes", small.data(), &size));
    EXPECT_EQ(12u, size);
    EXPECT_EQ(Bytes(12, 0xCC), small);
}

TEST_F(SharedHandleTest, GetValueFailures) {
    DWORD size = 64;
    Bytes buffer(64, 0);
    EXPECT_EQ(kNotFound, key.GetValue(L"Missing", buffer.data(), &size));
    EXPECT_EQ(kNotFound, key.GetValue(L"NoSuchKey\\Value", buffer.data(), &size));
    EXPECT_EQ(E_POINTER, key.GetValue(nullptr, buffer.data(), &size));
    EXPECT_EQ(E_POINTER, key.GetValue(L"Missing", buffer.data(), nullptr));
    EXPECT_EQ(E_INVALIDARG, key.GetValue(L"", buffer.data(), &size));

    const Bytes multi = Utf16(std::wstring(L"a\0b\0\0", 5));
    WriteValue(kMainKey, L"Multi", REG_MULTI_SZ, multi);
    WriteValue(kMainKey, L"Wide", REG_QWORD, Words({1, 2}));
    for (const wchar_t* name : {L"Multi", L"Wide"}) {
        Bytes form;
        EXPECT_EQ(kUnsupportedType, ReadForm(key, name, form)) << name;
    }
}

TEST_F(SharedHandleTest, SetValueWritesEachTypeInItsRegistryForm) {
    struct Case {
        Bytes form;
        DWORD type;
        Bytes data;
    };
    const Case cases[] = {
        {Form(KRVN::eLong, Words({0xFFFFFFFE})), REG_DWORD, Words({0xFFFFFFFE})},
        {Form(KRVN::eULong, Words({7})), REG_DWORD, Words({7})},
        {Form(KRVN::eInt, Words({8})), REG_DWORD, Words({8})},
        {Form(KRVN::eUInt, Words({9})), REG_DWORD, Words({9})},
        {Form(KRVN::eBool, {1}), REG_DWORD, {1}},
        {Form(KRVN::eUShort, {0x34, 0x12}), REG_DWORD, {0x34, 0x12}},
        {Form(KRVN::eUChar, {0x7F}), REG_DWORD, {0x7F}},
        {Form(KRVN::eWString, Utf16(L"COM1")), REG_SZ, Utf16(std::wstring(L"COM1\0", 5))},
        {Form(KRVN::eBlob, {1, 2, 3}), REG_BINARY, {1, 2, 3}},
        {Form(KRVN::eBlob, {}), REG_BINARY, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form[4]);
        ASSERT_EQ(S_OK, key.SetValue(L"Value", c.form.data(), static_cast<DWORD>(c.form.size())));
        const StoredValue stored = ReadStored(kMainKey, L"Value");
        EXPECT_EQ(c.type, stored.type);
        EXPECT_EQ(c.data, stored.data);
    }
}

TEST_F(SharedHandleTest, SetValueRefusesOtherTypesAndBadArguments) {
    const Bytes unsupported[] = {
        Form(KRVN::eVoid, {}),
        Form(KRVN::eFloat, Words({0})),
        Form(KRVN::eDouble, Words({0, 0})),
        Form(KRVN::eAString, {'a'}),
        Form(KRVN::eAIString, {'a'}),
        Form(KRVN::eTime64, Words({0, 0})),
        Form(KRVN::eULongPtr, Words({0})),
        Form(99, Words({0})),
    };
    for (const Bytes& form : unsupported) {
        EXPECT_EQ(kUnsupportedType,
                  key.SetValue(L"Value", form.data(), static_cast<DWORD>(form.size())))
            << form[4];
    }
    const Bytes indirect = Form(KRVN::eWIString, Utf16(L"x"));
    EXPECT_EQ(E_INVALIDARG,
              key.SetValue(L"Value", indirect.data(), static_cast<DWORD>(indirect.size())));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), ReadStored(kMainKey, L"Value").status);

    const Bytes form = Form(KRVN::eULong, Words({1}));
    EXPECT_EQ(E_POINTER, key.SetValue(nullptr, form.data(), 12));
    EXPECT_EQ(E_POINTER, key.SetValue(L"Value", nullptr, 12));
    EXPECT_EQ(E_POINTER, key.SetValue(L"Value", form.data(), 0));
    EXPECT_EQ(E_INVALIDARG, key.SetValue(L"", form.data(), 12));
}

TEST_F(SharedHandleTest, ValuePathsReachSubkeys) {
    const Bytes form = Form(KRVN::eWString, Utf16(L"deep"));
    ASSERT_EQ(S_OK, key.SetValue(L"Sub\\Inner\\Name", form.data(), 16));
    const std::wstring inner = std::wstring(kMainKey) + L"\\Sub\\Inner";
    EXPECT_EQ(Utf16(std::wstring(L"deep\0", 5)), ReadStored(inner.c_str(), L"Name").data);
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), ReadStored(kMainKey, L"Name").status);

    Bytes read;
    ASSERT_EQ(S_OK, ReadForm(key, L"Sub\\Inner\\Name", read));
    ExpectForm(form, read);

    WriteValue(kMainKey, L"Gone", REG_BINARY, Bytes{1});
    EXPECT_EQ(S_OK, key.DeleteValue(L"Gone"));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), ReadStored(kMainKey, L"Gone").status);
    EXPECT_EQ(kNotFound, key.DeleteValue(L"Gone"));
}

TEST_F(SharedHandleTest, CopiesShareOneKeyThatOutlivesAFailedOpen) {
    WriteValue(kMainKey, L"Bytes", REG_BINARY, Bytes{9});
    CSharedKey shared;
    {
        CSharedKey copy(shared);
        ASSERT_EQ(S_OK, copy.Open(kMainKey));
    }
    EXPECT_EQ(kNotFound, shared.Open(L"SOFTWARE\\Corvane\\Alarm\\Missing"));
    Bytes form;
    ASSERT_EQ(S_OK, ReadForm(shared, L"Bytes", form));
    EXPECT_EQ(Form(KRVN::eBlob, {9}), form);
}

} // namespace
} // namespace krvn_test
