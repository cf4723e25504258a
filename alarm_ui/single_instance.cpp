#include "alarm_ui/single_instance.h"

#include <sddl.h>

#include "alarm_ui/app_strings.h"

namespace {

// SYSTEM, the administrators and every interactive user may wait on the
// event, and nobody may do more with it; protected from inheritance.
constexpr wchar_t kRunningEventSddl[] =
    L"D:P(A;;0x00100000;;;SY)(A;;0x00100000;;;BA)(A;;0x00100000;;;IU)";

} // namespace

SingleInstance::SingleInstance(CreateEventFunction create) {
    KRVN::unique_hlocal descriptor;
    // Self-relative, as the conversion makes it: a SECURITY_ATTRIBUTES takes
    // either form. Should it fail, the default security still keeps one
    // instance per user.
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        kRunningEventSddl, SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr);
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor.get();
    attributes.bInheritHandle = FALSE;
    // SYNCHRONIZE is all an instance needs of it, and all the DACL grants
    // another user: asking for more would be refused on an existing event.
    m_event.reset(create(descriptor ? &attributes : nullptr, kRunningEventName,
                         CREATE_EVENT_MANUAL_RESET | CREATE_EVENT_INITIAL_SET, SYNCHRONIZE));
    const DWORD error = ::GetLastError();
    m_anotherRuns = m_event ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
}
