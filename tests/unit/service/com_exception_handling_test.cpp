// What the service asks of COM's global options: no handling of faults in
// its methods, seen through the seam of how the options object is had.

#include <windows.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include <utility>
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
        sets.emplace_back(property, value);
        return setResult;
    }
    HRESULT STDMETHODCALLTYPE Query(GLOBALOPT_PROPERTIES, ULONG_PTR*) override { return E_NOTIMPL; }

    std::vector<std::pair<GLOBALOPT_PROPERTIES, ULONG_PTR>> sets;
    HRESULT setResult = S_OK;
};

KRVN::com_ptr<KRVN::com::ComObject<RecordingOptions>> g_options;
HRESULT g_sourceResult = S_OK;

HRESULT HandOut(KRVN::com_ptr<IGlobalOptions>& options) {
    if (FAILED(g_sourceResult)) {
        return g_sourceResult;
    }
    options = KRVN::com_ptr<IGlobalOptions>(g_options.get());
    return S_OK;
}

TEST(ComExceptionHandlingTest, NoFaultIsHandledAndAFailureStopsTheStart) {
    g_options = KRVN::com::ComObject<RecordingOptions>::Make();
    ASSERT_EQ(S_OK, DisableComExceptionHandling(&HandOut));
    ASSERT_EQ(1u, g_options->sets.size());
    EXPECT_EQ(COMGLB_EXCEPTION_HANDLING, g_options->sets[0].first);
    // Not COMGLB_EXCEPTION_DONOT_HANDLE (fatal faults only): any fault ends
    // the process.
    EXPECT_EQ(static_cast<ULONG_PTR>(COMGLB_EXCEPTION_DONOT_HANDLE_ANY), g_options->sets[0].second);

    // The start must not go on with the handling left on.
    g_options->setResult = E_FAIL;
    EXPECT_EQ(E_FAIL, DisableComExceptionHandling(&HandOut));
    g_sourceResult = REGDB_E_CLASSNOTREG;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, DisableComExceptionHandling(&HandOut));
    g_options.reset();
}

} // namespace
} // namespace krvn_test
