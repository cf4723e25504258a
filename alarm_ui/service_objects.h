#pragma once
// Creating the service's objects in its process, and the message prefix for
// when that fails.

#include <objbase.h>

#include <string>

#include "com/com_ptr.h"

// CoCreateInstance in CLSCTX_LOCAL_SERVER. COM serves a class object
// registered by this very process first, which is how a test host stands in
// for the service.
template <typename Interface>
HRESULT CreateServiceObject(REFCLSID clsid, KRVN::com_ptr<Interface>& object) {
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(Interface),
                              object.put_void());
}

// String 148 filled with the object's name; it ends in a line feed, so the
// error text that follows starts on a line of its own.
std::wstring CannotCreateObjectPrefix(const wchar_t* objectName);
