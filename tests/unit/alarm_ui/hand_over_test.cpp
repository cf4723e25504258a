// The hand-over from a filtered instance to the elevated one it started,
// both sides in this process, on the real named events.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "alarm_ui/app_strings.h"
#include "alarm_ui/hand_over.h"
#include "common/unique_handle.h"
#include "tests/support/wait.h"

namespace {

constexpr DWORD kBoundMs = 5000;

// The allowed ACEs of a named event: SID text and mask.
std::vector<std::pair<std::wstring, DWORD>> Allowed(const wchar_t* name) {
    std::vector<std::pair<std::wstring, DWORD>> allowed;
    const KRVN::unique_handle event(::OpenEventW(READ_CONTROL, FALSE, name));
    PACL dacl = nullptr;
    KRVN::unique_hlocal descriptor;
    if (!event || ::GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr,
                                    reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) !=
                      ERROR_SUCCESS) {
        return allowed;
    }
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (::GetAce(dacl, i, &ace) &&
            static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            KRVN::unique_hlocal_string sid;
            ::ConvertSidToStringSidW(&entry->SidStart, sid.put());
            allowed.emplace_back(sid ? sid.get() : L"?", entry->Mask);
        }
    }
    return allowed;
}

// Someone else's objects under the hand-over's names, open to everyone.
KRVN::unique_handle Squat(const wchar_t* name) {
    KRVN::unique_hlocal descriptor;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAG:BAD:(A;;0x001F0003;;;WD)", SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    return KRVN::unique_handle(::CreateEventW(&attributes, TRUE, FALSE, name));
}

TEST(HandOverTest, AnElevatedStartTakesOverOnlyItsOwnUsersOfferOnceTheOldInstanceLetsGo) {
    // Nothing offered: a second start is just a second start.
    EXPECT_FALSE(HandOver::TakeOver(kBoundMs));

    std::unique_ptr<HandOver> offer;
    ASSERT_EQ(S_OK, HandOver::Offer(offer));
    // Only SYSTEM and (enabled) Administrators may say they took over, or
    // wait for the old instance; nobody may do more.
    const DWORD setAndWait = EVENT_MODIFY_STATE | SYNCHRONIZE;
    EXPECT_EQ(Allowed(kHandOverEventName),
              (std::vector<std::pair<std::wstring, DWORD>>{{L"S-1-5-18", setAndWait},
                                                           {L"S-1-5-32-544", setAndWait}}));
    EXPECT_EQ(Allowed(kReleasedEventName),
              (std::vector<std::pair<std::wstring, DWORD>>{{L"S-1-5-18", SYNCHRONIZE},
                                                           {L"S-1-5-32-544", SYNCHRONIZE}}));
    // One offer at a time.
    std::unique_ptr<HandOver> second;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), HandOver::Offer(second));

    std::atomic<int> tookOver{-1};
    std::thread elevated([&] { tookOver = HandOver::TakeOver(kBoundMs) ? 1 : 0; });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(offer->TakenEvent(), kBoundMs));
    // It waits for the old instance's shutdown.
    krvn_test::QuietFor(200);
    EXPECT_EQ(tookOver, -1);
    offer->LetGo();
    elevated.join();
    EXPECT_EQ(tookOver, 1);
    offer.reset();

    // Objects of another owner under the same names are neither used to
    // offer nor followed, however they are set.
    const KRVN::unique_handle taken = Squat(kHandOverEventName);
    const KRVN::unique_handle released = Squat(kReleasedEventName);
    ASSERT_TRUE(taken && released);
    ::SetEvent(released.get());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), HandOver::Offer(offer));
    EXPECT_FALSE(HandOver::TakeOver(kBoundMs));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(taken.get(), 0));
}

} // namespace
