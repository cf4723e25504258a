// The hand-over's named events as the old instance makes them, and which
// ones an elevated start follows (both sides of a whole hand-over run in
// program_test.cpp).

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>

#include "alarm_ui/app_strings.h"
#include "alarm_ui/hand_over.h"
#include "common/unique_handle.h"

namespace {

std::wstring DaclOf(const wchar_t* name) {
    const KRVN::unique_handle event(::OpenEventW(READ_CONTROL, FALSE, name));
    KRVN::unique_hlocal descriptor;
    KRVN::unique_hlocal_string text;
    if (!event ||
        ::GetSecurityInfo(
            event.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
            nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.put(), nullptr)) {
        return L"?";
    }
    return text.get();
}

// Another owner's event under the name, open to everyone.
KRVN::unique_handle Squat(const wchar_t* name) {
    KRVN::unique_hlocal descriptor;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAG:BAD:(A;;0x001F0003;;;WD)", SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    return KRVN::unique_handle(::CreateEventW(&attributes, TRUE, FALSE, name));
}

TEST(HandOverTest, OnlyElevatedAdministratorsMaySetItAndOnlyTheUsersOwnOfferIsFollowed) {
    // Nothing offered: a second start stays a second start.
    EXPECT_FALSE(HandOver::TakeOver(0));
    std::unique_ptr<HandOver> offer;
    ASSERT_EQ(S_OK, HandOver::Offer(offer));
    // SYSTEM and Administrators (enabled only) may say they took over
    // (EVENT_MODIFY_STATE) and wait; nobody may do more.
    EXPECT_EQ(DaclOf(kHandOverEventName), L"D:P(A;;0x100002;;;SY)(A;;0x100002;;;BA)");
    EXPECT_EQ(DaclOf(kReleasedEventName), L"D:P(A;;0x100000;;;SY)(A;;0x100000;;;BA)");
    std::unique_ptr<HandOver> second;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), HandOver::Offer(second));
    offer.reset();

    // Names someone else took are neither offered nor followed, however set.
    const KRVN::unique_handle taken = Squat(kHandOverEventName);
    const KRVN::unique_handle released = Squat(kReleasedEventName);
    ASSERT_TRUE(taken && released);
    ::SetEvent(released.get());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), HandOver::Offer(offer));
    EXPECT_FALSE(HandOver::TakeOver(0));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(taken.get(), 0));
}

} // namespace
