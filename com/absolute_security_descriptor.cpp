#include "com/absolute_security_descriptor.h"

#include <sddl.h>

#include "common/ca_exception.h"
#include "common/unique_handle.h"

namespace KRVN::com {

namespace {

HRESULT LastError() {
    return HResultFromStatus(static_cast<std::int32_t>(::GetLastError()));
}

template <class T> T* Data(std::vector<BYTE>& buffer) {
    return buffer.empty() ? nullptr : reinterpret_cast<T*>(buffer.data());
}

} // namespace

HRESULT AbsoluteSecurityDescriptor::Init(const wchar_t* sddl) {
    unique_hlocal selfRelative;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(selfRelative.put()),
            nullptr)) {
        return LastError();
    }
    // The first call only measures: it fails with ERROR_INSUFFICIENT_BUFFER
    // and says how large each part is.
    DWORD sizes[5] = {};
    ::MakeAbsoluteSD(selfRelative.get(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2],
                     nullptr, &sizes[3], nullptr, &sizes[4]);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return LastError();
    }
    std::vector<BYTE> descriptor(sizes[0]), dacl(sizes[1]), sacl(sizes[2]), owner(sizes[3]),
        group(sizes[4]);
    if (!::MakeAbsoluteSD(selfRelative.get(), Data<SECURITY_DESCRIPTOR>(descriptor), &sizes[0],
                          Data<ACL>(dacl), &sizes[1], Data<ACL>(sacl), &sizes[2], Data<void>(owner),
                          &sizes[3], Data<void>(group), &sizes[4])) {
        return LastError();
    }
    m_descriptor.swap(descriptor);
    m_dacl.swap(dacl);
    m_sacl.swap(sacl);
    m_owner.swap(owner);
    m_group.swap(group);
    return S_OK;
}

} // namespace KRVN::com
