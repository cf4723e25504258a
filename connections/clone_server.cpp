#include "connections/clone_server.h"

#include "com/bstr.h"
#include "com/com_object.h"
#include "com/result.h"
#include "common/unique_handle.h"
#include "connections/qn_server.h"
#include "connections/secret_text.h"

HRESULT CloneServer(IUnknown* source, KRVN::com_ptr<IQNServer>& copy) noexcept {
    copy.reset();
    if (!source) {
        return E_POINTER;
    }
    try {
        const auto server = KRVN::com_ptr<IUnknown>(source).try_query<IQNServer>();
        if (!server) {
            return E_NOINTERFACE;
        }
        KRVN::unique_bstr address;
        KRVN::unique_bstr password;
        const auto wipe = KRVN::scope_exit([&password] { WipeBstr(password.get()); });
        ULONG port = 0;
        KRVN_RETURN_IF_FAILED(server->get_Address(address.put()));
        KRVN_RETURN_IF_FAILED(server->get_Password(password.put()));
        KRVN_RETURN_IF_FAILED(server->get_Port(&port));

        const KRVN::com_ptr<IQNServer> made(KRVN::com::ComObject<QNServer>::Make());
        KRVN_RETURN_IF_FAILED(made->put_Address(address.get()));
        KRVN_RETURN_IF_FAILED(made->put_Password(password.get()));
        KRVN_RETURN_IF_FAILED(made->put_Port(port));
        copy = made;
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}
