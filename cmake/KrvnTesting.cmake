# Test harness: GoogleTest cross-built from Debian's sources, every test
# program run through Wine in a prefix that lives inside the build tree.

set(KRVN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix used by the tests")
set(KRVN_TEST_OUTPUT ${CMAKE_BINARY_DIR}/test-output)
file(MAKE_DIRECTORY ${KRVN_TEST_OUTPUT})

if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_SOURCE_DIR}/scripts/wine-exec.sh CACHE FILEPATH "Runs a test program under Wine" FORCE)
endif()

set(KRVN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KRVN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-g1>)
endforeach()

# The virtual red button (tools/virtual_button): its library is preloaded
# into every Wine process of a test run, from the fixture's first command on.
set(KRVN_VBUTTON_DIR ${CMAKE_BINARY_DIR}/vbutton)
set(KRVN_VBUTTON_PORT COM12 CACHE STRING "COM port behind which the tests' virtual red button sits")

# Environment every Wine-run test sees.
set(KRVN_TEST_ENV
    "KRVN_WINEPREFIX=${KRVN_WINEPREFIX}"
    "KRVN_TEST_OUTPUT=${KRVN_TEST_OUTPUT}"
    "KRVN_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "KRVN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "KRVN_VBUTTON_LIB=${KRVN_VBUTTON_DIR}/libvbutton.so"
    "KRVN_VBUTTON_STATE=${KRVN_VBUTTON_DIR}/state"
    "KRVN_VBUTTON_DEVICE=${KRVN_VBUTTON_DIR}/state/port"
    "KRVN_VBUTTON_PORT=${KRVN_VBUTTON_PORT}")

# Test code shares one precompiled header with the test support library, so
# GoogleTest and windows.h are parsed once per build, not once per file.
function(krvn_test_code target)
    target_link_libraries(${target} PRIVATE krvn_test_support)
    target_precompile_headers(${target} REUSE_FROM krvn_test_support)
endfunction()

# krvn_add_test(NAME UNIT|E2E SOURCES ... [LIBS ...] [DEPENDS ...] [GUI] [VBUTTON]
#               [COM_CLIENT] [TIMEOUT s] [LABELS ...])
# One CTest test per program, named unit_<area>[_<part>] or e2e_<area>[_<part>]
# and labelled by its kind: UNIT for a program that tests in its own process,
# E2E for one that starts other programs (the service, the tray program,
# substitute disk servers, scripts, itself as a COM server). Every program
# links the test support library (tests/support). GUI tests also get the
# Xvfb fixture, VBUTTON tests the virtual red button behind
# ${KRVN_VBUTTON_PORT}; COM_CLIENT programs take the support library's main
# (a COM client of the service) instead of GoogleTest's.
function(krvn_add_test name)
    cmake_parse_arguments(T "UNIT;E2E;GUI;VBUTTON;COM_CLIENT" "TIMEOUT" "SOURCES;LIBS;LABELS;DEPENDS"
                          ${ARGN})
    if(T_UNIT AND NOT T_E2E)
        set(kind unit)
    elseif(T_E2E AND NOT T_UNIT)
        set(kind e2e)
    else()
        message(FATAL_ERROR "krvn_add_test(${name}): say UNIT or E2E")
    endif()
    if(NOT name MATCHES "^${kind}_[a-z0-9_]+$")
        message(FATAL_ERROR "krvn_add_test(${name}): a ${kind} test is named ${kind}_<area>")
    endif()
    if(T_COM_CLIENT)
        set(main krvn_test_com_client_main)
    else()
        set(main GTest::gtest_main)
    endif()
    add_executable(${name} ${T_SOURCES})
    krvn_test_code(${name})
    target_link_libraries(${name} PRIVATE ${main} ${T_LIBS} ${KRVN_WIN_LIBS})
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:Z:${KRVN_TEST_OUTPUT}/${name}.xml)
    set(fixtures wine_prefix)
    set(env ${KRVN_TEST_ENV})
    if(T_GUI)
        list(APPEND fixtures xvfb)
        list(APPEND env "DISPLAY=:${KRVN_XVFB_DISPLAY}")
    endif()
    if(T_VBUTTON)
        list(APPEND fixtures vbutton)
        add_dependencies(${name} vbutton_preload)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED "${fixtures}"
        ENVIRONMENT "${env}"
        TIMEOUT ${T_TIMEOUT}
        RUN_SERIAL TRUE
        LABELS "${kind};${T_LABELS}")
endfunction()

set(KRVN_XVFB_DISPLAY 97 CACHE STRING "Display number of the test Xvfb")

# Paths of built programs as the Windows side sees them: under Wine the Unix
# root is drive Z:.
if(CMAKE_HOST_WIN32)
    set(KRVN_WINE_DRIVE "")
else()
    set(KRVN_WINE_DRIVE "Z:")
endif()

# Programs whose entry point is wmain or wWinMain.
function(krvn_unicode_entry target)
    target_link_options(${target} PRIVATE -municode)
endfunction()
