# The configuration unit tests; built for Windows (CMakeLists.txt here) and
# natively under the sanitizers (fuzz/CMakeLists.txt).
set(KRVN_CONFIG_TEST_SOURCES
    ansi_codepage_test.cpp
    blob_test.cpp
    buffer_test.cpp
    counted_ptr_test.cpp
    image_validation_test.cpp
    policy_value_test.cpp
    value_test.cpp
    value_text_test.cpp)
list(TRANSFORM KRVN_CONFIG_TEST_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
