#pragma once
// The substitute server's event log: one line per event,
//   <UTC time> <where> <event> [key=value ...]
// with no spaces inside a field, so that tests can split lines on spaces.
// Lines are written whole and flushed at once; tests read the file while the
// server runs.

#include <windows.h>

#include <mutex>
#include <string>

#include "common/unique_handle.h"

class EventLog {
public:
    // Appends to path (created when missing) unless it is empty; echo copies
    // every line to the standard output as well.
    EventLog(const std::wstring& path, bool echo);

    bool IsOpen() const noexcept { return m_echo || static_cast<bool>(m_file); }

    // where: "127.0.0.5:4464", "ncacn_np:\pipe\..." or "-" for the process.
    void Write(const std::string& where, const std::string& event,
               const std::string& details = std::string());

    // Bytes as lower-case hex ("" for none).
    static std::string Hex(const void* data, size_t size);
    // Text with every byte outside '!'..'~' and '%' written as %XX.
    static std::string Escape(const std::string& text);

private:
    std::mutex m_lock;
    KRVN::unique_hfile m_file;
    bool m_echo;
};
