#include "local_server.h"

#include "com/class_objects.h"
#include "com/module.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "test_classes.h"

namespace krvn_test {

using namespace KRVN::com;

int RunLocalServer() {
    const KRVN::unique_couninitialize com(COINIT_MULTITHREADED);
    if (!com) {
        return com.result();
    }
    const KRVN::unique_event unused = KRVN::unique_event::create();
    Module::Instance().TrackServerProcess();
    Module::Instance().SetUnusedHandler([&unused] { unused.SetEvent(); });
    const auto forget = KRVN::scope_exit([] { Module::Instance().SetUnusedHandler(nullptr); });

    ClassObjects classes;
    KRVN_RETURN_IF_FAILED(classes.Register<TestServer>(CLSID_QNServer));
    KRVN_RETURN_IF_FAILED(ClassObjects::Resume());
    return ::WaitForSingleObject(unused.get(), kServerIdleLimitMs) == WAIT_OBJECT_0 ? 0 : 2;
}

} // namespace krvn_test
