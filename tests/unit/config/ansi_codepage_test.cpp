#include "config/ansi_codepage.h"

#include <gtest/gtest.h>

using namespace KRVN;

TEST(AnsiCodePage, AsciiRoundTripsAndUnmappableCharactersAreReplacedNotDropped) {
    const std::string ascii = "psw=Secret 123";
    EXPECT_EQ(WString(ascii.begin(), ascii.end()), AnsiToWide(ascii));
    EXPECT_EQ(ascii, WideToAnsi(AnsiToWide(ascii)));
    EXPECT_EQ("", WideToAnsi(WString()));
    EXPECT_EQ(WString(), AnsiToWide(""));
    const WString cjk(1, static_cast<WChar>(0x4E2D));
    EXPECT_FALSE(WideToAnsi(KRVN_WTEXT("a") + cjk + KRVN_WTEXT("b")).empty());
    EXPECT_EQ('b', WideToAnsi(KRVN_WTEXT("a") + cjk + KRVN_WTEXT("b")).back());
}
