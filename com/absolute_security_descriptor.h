#pragma once
// A security descriptor in absolute form, made from SDDL.
//
// CoInitializeSecurity takes only an absolute descriptor and fails a
// self-relative one with ERROR_BAD_DESCRIPTOR_FORMAT, while
// ConvertStringSecurityDescriptorToSecurityDescriptorW always makes a
// self-relative one: MakeAbsoluteSD takes it apart into the buffers this
// object owns, so the descriptor lives as long as the object.

#include <windows.h>

#include <vector>

namespace KRVN::com {

class AbsoluteSecurityDescriptor {
public:
    AbsoluteSecurityDescriptor() = default;
    // The descriptor points into the object's own buffers.
    AbsoluteSecurityDescriptor(const AbsoluteSecurityDescriptor&) = delete;
    AbsoluteSecurityDescriptor& operator=(const AbsoluteSecurityDescriptor&) = delete;

    // S_OK, or the failing call's error as an HRESULT.
    HRESULT Init(const wchar_t* sddl);

    // Null until Init succeeded.
    PSECURITY_DESCRIPTOR get() noexcept {
        return m_descriptor.empty() ? nullptr : m_descriptor.data();
    }

private:
    std::vector<BYTE> m_descriptor;
    std::vector<BYTE> m_dacl;
    std::vector<BYTE> m_sacl;
    std::vector<BYTE> m_owner;
    std::vector<BYTE> m_group;
};

} // namespace KRVN::com
