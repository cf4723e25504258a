# Cross-compiles the Windows x64 programs with mingw-w64. The -posix
# variants are needed for std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KRVN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KRVN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KRVN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KRVN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KRVN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: a missing libstdc++ DLL makes Wine exit 53 without a word.
# Programs with wmain/wWinMain add -municode themselves (krvn_unicode_entry).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
