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

# The virtual red button (tools/virtual_button): its library is preloaded
# into every Wine process of a test run, from the fixture's first command on.
set(KRVN_VBUTTON_DIR ${CMAKE_BINARY_DIR}/vbutton)
set(KRVN_VBUTTON_PORT COM7 CACHE STRING "COM port behind which the tests' virtual red button sits")

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

# krvn_add_test(NAME SOURCES ... [LIBS ...] [GUI] [VBUTTON] [TIMEOUT s] [LABELS ...])
# One CTest test per program; GUI tests also get the Xvfb fixture, VBUTTON
# tests the virtual red button behind ${KRVN_VBUTTON_PORT}.
function(krvn_add_test name)
    cmake_parse_arguments(T "GUI;VBUTTON" "TIMEOUT" "SOURCES;LIBS;LABELS;DEPENDS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE GTest::gmock GTest::gtest_main ${T_LIBS} ${KRVN_WIN_LIBS})
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
        LABELS "${T_LABELS}")
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
