#pragma once
// A file another process keeps appending to (a substitute server's log, a
// program's console), read as it grows: each Read gives the whole lines
// added since the last one; a line still being written waits for the next.

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace krvn_test {

class LogTail {
public:
    explicit LogTail(std::wstring path) : m_path(std::move(path)) {}

    // The new whole lines, without their line ends; none while the file does
    // not exist yet.
    std::vector<std::string> Read();

private:
    std::wstring m_path;
    KRVN::unique_hfile m_file;
    std::string m_partial;
};

} // namespace krvn_test
