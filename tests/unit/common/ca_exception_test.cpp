#include "common/ca_exception.h"

#include <gtest/gtest.h>

TEST(CAException, RaiseCarriesCodeSourceDateAndLine) {
    try {
        RaiseCAException(-7, "smart_thread", "Mar 16 2009", 213);
        FAIL() << "nothing thrown";
    } catch (const CAException& e) {
        EXPECT_EQ(-7, e.Code());
        EXPECT_EQ("smart_thread", e.File());
        EXPECT_EQ("Mar 16 2009", e.Date());
        EXPECT_EQ(213, e.Line());
    }
}

TEST(CAException, RaiseOfACopyKeepsEveryField) {
    const CAException original(KRVN::kE_INVALIDARG, "Registry", "Jan  1 2020", 42);
    try {
        original.Raise();
    } catch (const CAException& e) {
        EXPECT_EQ(KRVN::kE_INVALIDARG, e.Code());
        EXPECT_EQ("Registry", e.File());
        EXPECT_EQ(42, e.Line());
        return;
    }
    FAIL() << "nothing thrown";
}

TEST(HResultFromStatus, PositiveStatusGetsWin32FacilityAndZeroOrNegativeStaysAsItIs) {
    EXPECT_EQ(0, KRVN::HResultFromStatus(0));
    EXPECT_EQ(static_cast<std::int32_t>(0x80070002u), KRVN::HResultFromStatus(2));
    EXPECT_EQ(static_cast<std::int32_t>(0x800706BAu), KRVN::HResultFromStatus(1722));
    // Only the low 16 bits survive.
    EXPECT_EQ(static_cast<std::int32_t>(0x80070001u), KRVN::HResultFromStatus(0x10001));
    EXPECT_EQ(KRVN::kE_FAIL, KRVN::HResultFromStatus(KRVN::kE_FAIL));
}
