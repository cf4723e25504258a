#include "tests/support/log_tail.h"

namespace krvn_test {

std::vector<std::string> LogTail::Read() {
    std::vector<std::string> lines;
    if (!m_file) {
        // Kept open once found: the writer shares the file for reading.
        m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_file) {
            return lines;
        }
    }
    char buffer[16384];
    DWORD read = 0;
    while (::ReadFile(m_file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        m_partial.append(buffer, read);
    }
    size_t start = 0;
    for (size_t end = m_partial.find('\n'); end != std::string::npos;
         end = m_partial.find('\n', start)) {
        std::string line = m_partial.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    m_partial.erase(0, start);
    return lines;
}

} // namespace krvn_test
