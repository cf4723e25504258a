// The AppID's LocalService value appears only for a service that exists.

#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "service/service_app_id.h"

namespace krvn_test {
namespace {

TEST(ServiceAppIdTest, LocalServiceOnlyOnceTheServiceIsInstalled) {
    const KRVN::com::Registrar registrar;
    const auto clean = KRVN::scope_exit([&registrar] { registrar.UnregisterAppId(); });
    // Left by an earlier installation: a failed one must not keep it.
    ASSERT_EQ(S_OK, registrar.RegisterAppId());
    ASSERT_EQ(S_OK, registrar.SetLocalService(L"Tolvane"));

    EXPECT_EQ(E_FAIL, RegisterServiceAppId(registrar, L"Tolvane", [] { return E_FAIL; }));
    std::wstring name;
    EXPECT_EQ(S_FALSE, registrar.GetLocalService(name));

    EXPECT_EQ(S_OK, RegisterServiceAppId(registrar, L"Tolvane", [] { return S_OK; }));
    EXPECT_EQ(S_OK, registrar.GetLocalService(name));
    EXPECT_EQ(L"Tolvane", name);
}

} // namespace
} // namespace krvn_test
