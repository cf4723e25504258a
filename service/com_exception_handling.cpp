#include "service/com_exception_handling.h"

#include <objbase.h>

#include "com/result.h"

namespace {

HRESULT CreateGlobalOptions(KRVN::com_ptr<IGlobalOptions>& options) {
    return ::CoCreateInstance(CLSID_GlobalOptions, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IGlobalOptions, options.put_void());
}

} // namespace

HRESULT DisableComExceptionHandling(GlobalOptionsSource source) {
    KRVN::com_ptr<IGlobalOptions> options;
    KRVN_RETURN_IF_FAILED((source ? source : &CreateGlobalOptions)(options));
    return options->Set(COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE_ANY);
}
