# The Tolvane program: service host and local COM server. The host's own
# pieces are a library, so the tests can drive the switch parsing that ships.
set(dir ${CMAKE_CURRENT_LIST_DIR})
add_library(krvn_service_host STATIC
    ${dir}/boot_settings.cpp
    ${dir}/boot_settings.h
    ${dir}/boot_start.cpp
    ${dir}/boot_start.h
    ${dir}/command_line.cpp
    ${dir}/command_line.h
    ${dir}/com_exception_handling.cpp
    ${dir}/com_exception_handling.h
    ${dir}/com_security.cpp
    ${dir}/com_security.h
    ${dir}/event_log.cpp
    ${dir}/event_log.h
    ${dir}/install_settings.cpp
    ${dir}/install_settings.h
    ${dir}/install_settings_switch.cpp
    ${dir}/install_settings_switch.h
    ${dir}/install_settings_writer.cpp
    ${dir}/install_settings_writer.h
    ${dir}/interactive_station.cpp
    ${dir}/interactive_station.h
    ${dir}/prior_settings.cpp
    ${dir}/prior_settings.h
    ${dir}/process_failure_outputs.cpp
    ${dir}/process_failure_outputs.h
    ${dir}/service_app_id.cpp
    ${dir}/service_app_id.h
    ${dir}/service_config_target.h
    ${dir}/service_installer.cpp
    ${dir}/service_installer.h
    ${dir}/service_manager_target.cpp
    ${dir}/service_manager_target.h
    ${dir}/service_status.cpp
    ${dir}/service_status.h
    ${dir}/shutdown_monitor.cpp
    ${dir}/shutdown_monitor.h
    ${dir}/switch_failure.cpp
    ${dir}/switch_failure.h
    ${dir}/tolvane_module.cpp
    ${dir}/tolvane_module.h)
target_link_libraries(krvn_service_host PUBLIC krvn_service_core)

add_executable(Tolvane ${dir}/tolvane_main.cpp ${dir}/Tolvane.rc
    ${KRVN_MESSAGES_DIR}/tolvane_messages.rc)
set_target_properties(Tolvane PROPERTIES OUTPUT_NAME Tolvane)
# The message table's resource names its .bin without a folder.
set_source_files_properties(${KRVN_MESSAGES_DIR}/tolvane_messages.rc PROPERTIES
    OBJECT_DEPENDS ${KRVN_MESSAGES_DIR}/MSG00409.bin)
target_include_directories(Tolvane PRIVATE $<$<COMPILE_LANGUAGE:RC>:${KRVN_MESSAGES_DIR}>)
target_link_libraries(Tolvane PRIVATE krvn_service_host)
krvn_embed_typelib(Tolvane)
krvn_unicode_entry(Tolvane)
