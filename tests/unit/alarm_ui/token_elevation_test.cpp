// Who counts as an administrator with a filtered token, through the token
// query the program makes (Wine's own tokens are all elevated).

#include <windows.h>

#include <gtest/gtest.h>

#include "alarm_ui/token_elevation.h"
#include "common/unique_handle.h"
#include "fake_token.h"

namespace {

bool Closed(HANDLE handle) {
    DWORD flags = 0;
    return !::GetHandleInformation(handle, &flags);
}

TEST(TokenElevationTest, OnlyALimitedTokenWhoseLinkedTokenHasAdministratorsEnabledCounts) {
    KRVN::unique_handle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    // The linked token may come as an impersonation or a primary token;
    // membership is read from either, and the handle is closed.
    for (const auto user : {fake_token::User::FilteredAdministrator,
                            fake_token::User::FilteredAdministratorPrimaryLinked}) {
        fake_token::Become(user);
        EXPECT_TRUE(IsFilteredAdministrator(token.get(), &fake_token::Query));
        EXPECT_TRUE(Closed(fake_token::LastLinked()));
    }
    fake_token::Become(fake_token::User::FilteredOtherUser);
    EXPECT_FALSE(IsFilteredAdministrator(token.get(), &fake_token::Query));
    EXPECT_TRUE(Closed(fake_token::LastLinked()));

    // A token without a linked one is not asked for it.
    fake_token::Become(fake_token::User::StandardUser);
    const int handedOut = fake_token::LinkedHandedOut();
    EXPECT_FALSE(IsFilteredAdministrator(token.get(), &fake_token::Query));
    EXPECT_EQ(fake_token::LinkedHandedOut(), handedOut);
}

} // namespace
