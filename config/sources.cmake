# Sources of krvn_config that are plain standard C++; shared by the Windows
# build (config/CMakeLists.txt) and the native sanitizer and fuzzer build
# (fuzz/CMakeLists.txt), which each add their own code-page conversion.
set(KRVN_CONFIG_PORTABLE_SOURCES
    alloc.cpp
    blob.cpp
    blob_part.cpp
    buffer.cpp
    bv_value.cpp
    image_validation.cpp
    policy_value.cpp
    value.cpp
    value_type.cpp)
list(TRANSFORM KRVN_CONFIG_PORTABLE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
