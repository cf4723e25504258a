// Password copies leave nothing readable behind in the memory they held.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "com/bstr.h"
#include "connections/secret_text.h"

namespace krvn_test {
namespace {

TEST(SecretTextTest, WipingOverwritesTheBufferAndAMoveLeavesNoCopy) {
    // Longer than any inline buffer: the characters live on the heap.
    SecretWString secret(std::wstring(100, L'p'));
    const wchar_t* buffer = secret.Text().data();
    const size_t capacity = secret.Text().capacity();

    SecretWString moved(std::move(secret));
    EXPECT_EQ(std::wstring(100, L'p'), moved.Text());
    moved.Wipe();
    EXPECT_TRUE(moved.Text().empty());
    // Same buffer, still owned: every character it can hold is zero.
    ASSERT_EQ(buffer, moved.Text().data());
    EXPECT_TRUE(std::all_of(buffer, buffer + capacity, [](wchar_t c) { return c == 0; }));

    SecretString shortText(std::string("pw"));
    const char* inline_ = shortText.Text().data();
    shortText.Wipe();
    EXPECT_EQ(0, inline_[0]);
    EXPECT_EQ(0, inline_[1]);

    KRVN::unique_bstr bstr(L"secret");
    WipeBstr(bstr.get());
    EXPECT_EQ(6u, bstr.length());
    EXPECT_TRUE(std::all_of(bstr.get(), bstr.get() + 6, [](wchar_t c) { return c == 0; }));
}

} // namespace
} // namespace krvn_test
