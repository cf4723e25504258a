// What the service asks of COM's global options, seen through the seam of
// how the options object is had: no handling of any fault in its methods.

#include <windows.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include <vector>

#include "com/com_object.h"
#include "com/interface_map.h"
#include "service/com_exception_handling.h"

namespace krvn_test {
namespace {

class RecordingOptions : public IGlobalOptions {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IGlobalOptions>>;

    HRESULT STDMETHODCALLTYPE Set(GLOBALOPT_PROPERTIES property, ULONG_PTR value) override {
        sets.push_back({property, value});
        return result;
    }
    HRESULT STDMETHODCALLTYPE Query(GLOBALOPT_PROPERTIES, ULONG_PTR*) override { return E_NOTIMPL; }

    std::vector<std::pair<GLOBALOPT_PROPERTIES, ULONG_PTR>> sets;
    HRESULT result = S_OK;
};

KRVN::com_ptr<KRVN::com::ComObject<RecordingOptions>> g_options;

TEST(ComExceptionHandlingTest, NoFaultIsHandledAndAFailedSettingStopsTheStart) {
    g_options = KRVN::com::ComObject<RecordingOptions>::Make();
    const auto handOut = [](KRVN::com_ptr<IGlobalOptions>& options) {
        options = KRVN::com_ptr<IGlobalOptions>(g_options.get());
        return S_OK;
    };
    ASSERT_EQ(S_OK, DisableComExceptionHandling(handOut));
    // Not COMGLB_EXCEPTION_DONOT_HANDLE, which leaves non-fatal faults to COM.
    const std::vector<std::pair<GLOBALOPT_PROPERTIES, ULONG_PTR>> expected{
        {COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE_ANY}};
    EXPECT_EQ(expected, g_options->sets);
    g_options->result = E_FAIL;
    EXPECT_EQ(E_FAIL, DisableComExceptionHandling(handOut));
    g_options.reset();
}

} // namespace
} // namespace krvn_test
