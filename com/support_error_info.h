#pragma once
// ISupportErrorInfo for a class that sets error information on the listed
// interfaces: S_OK for their IIDs, S_FALSE for every other.

#include <windows.h>
#include <oaidl.h>

namespace KRVN::com {

template <typename... Interfaces> class SupportErrorInfoImpl : public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return (::IsEqualIID(iid, __uuidof(Interfaces)) || ...) ? S_OK : S_FALSE;
    }

protected:
    SupportErrorInfoImpl() = default;
    ~SupportErrorInfoImpl() = default;
};

} // namespace KRVN::com
