// The owners release what they hold exactly once: on destruction, on reset,
// on move assignment, and never after release().

#include "com/bstr.h"
#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/unique_couninitialize.h"
#include "com/variant.h"
#include "common/unique_handle.h"
#include "test_classes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

using KRVN::com::ComObject;
using KRVN::com::Module;
using krvn_test::TestServer;

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

struct CountingTraits {
    using type = int;
    static int invalid() noexcept { return -1; }
    static void close(int value) noexcept { closed.push_back(value); }
    static inline std::vector<int> closed;
};
using unique_counted = KRVN::unique_any<CountingTraits>;

TEST(UniqueAny, ClosesEachValueOnceAcrossMoveResetAndRelease) {
    CountingTraits::closed.clear();
    {
        unique_counted first(1);
        unique_counted second(std::move(first));
        EXPECT_FALSE(first);
        second.reset(2); // closes 1
        unique_counted third(3);
        third = std::move(second); // closes 3, now holds 2
        unique_counted fourth(4);
        const int kept = fourth.release();
        EXPECT_EQ(4, kept);
        unique_counted fifth(5);
        *fifth.put() = 6; // put() closes 5 before the new value arrives
    }                     // closes 6 and 2
    EXPECT_EQ((std::vector<int>{1, 3, 5, 6, 2}), CountingTraits::closed);
}

TEST(UniqueHandle, EventHandleIsClosedWhenItsLastOwnerDies) {
    HANDLE raw = nullptr;
    {
        KRVN::unique_event outer;
        {
            KRVN::unique_event event = KRVN::unique_event::create();
            raw = event.get();
            event.SetEvent();
            EXPECT_TRUE(event.is_signaled());
            event.ResetEvent();
            EXPECT_FALSE(event.is_signaled());
            outer = std::move(event);
        }
        EXPECT_TRUE(IsOpen(raw)) << "the moved-from owner closed the handle";
    }
    EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueHandle, FileOwnerTreatsInvalidHandleValueAsEmptyAndClosesTheFile) {
    KRVN::unique_hfile none;
    EXPECT_FALSE(none);
    EXPECT_EQ(INVALID_HANDLE_VALUE, none.get());

    wchar_t directory[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, directory));
    ASSERT_NE(0u, ::GetTempFileNameW(directory, L"krv", 0, path));
    {
        KRVN::unique_hfile file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        ASSERT_TRUE(file);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path)) << "file still open";
}

TEST(UniqueHandle, RegistryKeyIsClosedWithItsOwner) {
    HKEY raw = nullptr;
    {
        KRVN::unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KrvnComTest", 0,
                                                   nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                                   nullptr, key.put(), nullptr));
        raw = key.get();
        EXPECT_EQ(ERROR_SUCCESS,
                  ::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr));
    }
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              ::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr));
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KrvnComTest");
}

TEST(ScopeExit, RunsOnceAtScopeEndUnlessReleased) {
    int runs = 0;
    {
        auto cleanup = KRVN::scope_exit([&] { ++runs; });
    }
    EXPECT_EQ(1, runs);
    {
        auto cleanup = KRVN::scope_exit([&] { ++runs; });
        cleanup.release();
    }
    EXPECT_EQ(1, runs);
}

TEST(ComPtr, CopiesShareTheObjectAndTheLastOwnerReleasesIt) {
    const long before = Module::Instance().ObjectCount();
    {
        KRVN::com_ptr<IQNServer> first = ComObject<TestServer>::Make();
        KRVN::com_ptr<IQNServer> second = first;
        EXPECT_EQ(first.get(), second.get());
        first.reset();
        EXPECT_EQ(before + 1, Module::Instance().ObjectCount());
        IQNServer* out = nullptr;
        ASSERT_EQ(S_OK, second.copy_to(&out));
        KRVN::com_ptr<IQNServer> third;
        third.attach(out);
        second.reset();
        EXPECT_EQ(before + 1, Module::Instance().ObjectCount()) << "copy_to took no reference";
    }
    EXPECT_EQ(before, Module::Instance().ObjectCount());
}

TEST(ComPtr, QueryRaisesAndTryQueryGivesNullForAMissingInterface) {
    KRVN::com_ptr<IQNServer> server = ComObject<TestServer>::Make();
    EXPECT_TRUE(server.query<IDispatch>());
    EXPECT_FALSE(server.try_query<IQNAlarm>());
    try {
        server.query<IQNAlarm>();
        FAIL() << "nothing raised";
    } catch (const CAException& e) {
        EXPECT_EQ(E_NOINTERFACE, e.Code());
    }
}

TEST(UniqueBstr, CopiesAreExactAndConstructionStopsAtTheFirstZero) {
    const wchar_t text[] = L"ab\0cd";
    KRVN::unique_bstr embedded;
    embedded.reset(::SysAllocStringLen(text, 5));
    KRVN::unique_bstr copy = embedded.copy();
    EXPECT_EQ(5u, copy.length());
    EXPECT_EQ(0, std::memcmp(text, copy.get(), 5 * sizeof(wchar_t)));

    EXPECT_EQ(2u, KRVN::unique_bstr(embedded.get()).length());

    BSTR out = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, KRVN::unique_bstr().copy_to(&out));
    EXPECT_EQ(nullptr, out);
    EXPECT_FALSE(KRVN::unique_bstr(nullptr));

    KRVN::unique_bstr empty(L"");
    EXPECT_TRUE(empty) << "an empty string is not a null one";
    EXPECT_TRUE(empty.copy());
}

TEST(UniqueVariant, ClearingReleasesTheHeldObject) {
    const long before = Module::Instance().ObjectCount();
    VARIANT handedOut;
    {
        KRVN::unique_variant value;
        VARIANT* slot = value.put();
        V_VT(slot) = VT_DISPATCH;
        V_DISPATCH(slot) = ComObject<TestServer>::Make().query<IDispatch>().detach();
        EXPECT_EQ(before + 1, Module::Instance().ObjectCount());

        KRVN::unique_variant copy;
        ASSERT_EQ(S_OK, value.copy_to(copy.put()));
        value.reset();
        EXPECT_EQ(VT_EMPTY, value.type());
        EXPECT_EQ(before + 1, Module::Instance().ObjectCount()) << "the copy holds no reference";
        handedOut = copy.release();
        EXPECT_EQ(VT_EMPTY, copy.type());
    }
    EXPECT_EQ(before + 1, Module::Instance().ObjectCount()) << "release() still cleared";
    KRVN::unique_variant owner;
    *owner.put() = handedOut;
    owner.reset();
    EXPECT_EQ(before, Module::Instance().ObjectCount());
}

TEST(UniqueCouninitialize, LeavesOnlyAnApartmentItJoined) {
    std::thread([] {
        {
            KRVN::unique_couninitialize sta(COINIT_APARTMENTTHREADED);
            EXPECT_EQ(S_OK, sta.result());
            {
                KRVN::unique_couninitialize again(COINIT_APARTMENTTHREADED);
                EXPECT_EQ(S_FALSE, again.result());
                KRVN::unique_couninitialize other(COINIT_MULTITHREADED);
                EXPECT_EQ(RPC_E_CHANGED_MODE, other.result());
                EXPECT_FALSE(other);
            }
            // One join is left: the thread is still in its apartment.
            APTTYPE type = APTTYPE_CURRENT;
            APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
            ASSERT_EQ(S_OK, ::CoGetApartmentType(&type, &qualifier));
            EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
        }
        // And now none: the thread may join the other kind of apartment.
        KRVN::unique_couninitialize mta(COINIT_MULTITHREADED);
        EXPECT_EQ(S_OK, mta.result());
    }).join();
}

} // namespace
