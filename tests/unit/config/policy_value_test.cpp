#include "config/policy_value.h"
#include "image_bytes.h"

#include <gtest/gtest.h>

using namespace KRVN;

namespace {

RegistryData Dword(std::uint32_t value) {
    return {kRegistryDword, Words({value})};
}

// ASCII text as the registry holds a REG_SZ, terminator included.
RegistryData Sz(const std::string& text) {
    Bytes bytes;
    AddUtf16(bytes, text + '\0');
    return {kRegistryText, bytes};
}

bool IsCom5(const WString& name) {
    return name == KRVN_WTEXT("COM5");
}

PolicyValue<std::uint32_t> Set(std::uint32_t value) {
    return {PolicyState::Set, value};
}
const PolicyValue<std::uint32_t> kBadDword{PolicyState::Bad};
const PolicyValue<WString> kBadText{PolicyState::Bad};

} // namespace

TEST(PolicyValue, ADwordIsTakenOnlyAsFourLittleEndianBytesWithinItsRange) {
    EXPECT_EQ(PolicyState::NotConfigured, DwordPolicy(std::nullopt, 1, 86400).state);
    EXPECT_EQ(Set(1), DwordPolicy(Dword(1), 1, 86400));
    EXPECT_EQ(Set(86400), DwordPolicy(Dword(86400), 1, 86400));
    // Outside the range: ignored, never taken as its nearer end.
    EXPECT_EQ(kBadDword, DwordPolicy(Dword(0), 1, 86400));
    EXPECT_EQ(kBadDword, DwordPolicy(Dword(86401), 1, 86400));
    EXPECT_EQ(kBadDword, DwordPolicy(Dword(2), 0, 1));
    // The number as text, a QWORD, a short DWORD, a big-endian one.
    EXPECT_EQ(kBadDword, DwordPolicy(Sz("30"), 1, 86400));
    EXPECT_EQ(kBadDword, DwordPolicy(RegistryData{11, Words({30, 0})}, 1, 86400));
    EXPECT_EQ(kBadDword, DwordPolicy(RegistryData{kRegistryDword, {30, 0}}, 1, 86400));
    EXPECT_EQ(kBadDword, DwordPolicy(RegistryData{5, {0, 0, 0, 30}}, 1, 86400));
}

TEST(PolicyValue, TextIsTakenUpToItsTerminatorOnlyWhenAccepted) {
    EXPECT_EQ(PolicyState::NotConfigured, TextPolicy(std::nullopt, IsCom5).state);
    const PolicyValue<WString> com5{PolicyState::Set, KRVN_WTEXT("COM5")};
    EXPECT_EQ(com5, TextPolicy(Sz("COM5"), IsCom5));
    Bytes unterminated;
    AddUtf16(unterminated, "COM5");
    EXPECT_EQ(com5, TextPolicy(RegistryData{kRegistryText, unterminated}, IsCom5));

    EXPECT_EQ(kBadText, TextPolicy(Sz("COM6"), IsCom5));
    // Cut at its zero it would read as an accepted name.
    EXPECT_EQ(kBadText, TextPolicy(Sz(std::string("COM5\0X", 6)), IsCom5));
    // Expandable text, an odd byte count, a DWORD.
    EXPECT_EQ(kBadText, TextPolicy(RegistryData{2, Sz("COM5").bytes}, IsCom5));
    Bytes odd = Sz("COM5").bytes;
    odd.push_back(0);
    EXPECT_EQ(kBadText, TextPolicy(RegistryData{kRegistryText, odd}, IsCom5));
    EXPECT_EQ(kBadText, TextPolicy(Dword(5), IsCom5));

    // The empty name is what the check says of it.
    const auto anyName = [](const WString&) { return true; };
    EXPECT_EQ((PolicyValue<WString>{PolicyState::Set, WString()}), TextPolicy(Sz(""), anyName));
    EXPECT_EQ(kBadText, TextPolicy(Sz(""), IsCom5));
}
