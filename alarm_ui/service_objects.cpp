#include "alarm_ui/service_objects.h"

#include "alarm_ui/format_text.h"
#include "alarm_ui/resource.h"
#include "alarm_ui/resource_instance.h"
#include "window/resource_string.h"

std::wstring CannotCreateObjectPrefix(const wchar_t* objectName) {
    const std::wstring format =
        KRVN::LoadResourceString(ResourceInstance(), IDS_CANNOT_CREATE_OBJECT);
    return FormatText(format.c_str(), objectName);
}
