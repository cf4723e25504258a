#pragma once
// The campaign's own record: every step and what came of it in a file of the
// run's folder, and what a reader must see (violations, the summary) on the
// standard output as well.

#include <windows.h>

#include <mutex>
#include <string>

#include "common/unique_handle.h"

namespace krvn_chaos {

class RunLog {
public:
    explicit RunLog(const std::wstring& path);

    // To the file only, after the UTC time of day.
    void Write(const std::string& line);
    // To the file and the standard output.
    void Show(const std::string& line);

private:
    std::mutex m_lock;
    KRVN::unique_hfile m_file;
};

} // namespace krvn_chaos
