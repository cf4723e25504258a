#pragma once
// Wine runs every Windows process as a Linux process. A test finds the one
// behind a program it started by a piece of that program's command line
// (Wine shows the Windows command line in /proc) and sends it signals: a
// process stopped with SIGSTOP answers nothing, while its kernel still
// accepts connections and buffers what is sent to it.

#include <string>

namespace krvn_test {

// The Unix process id of the one process whose command line contains
// marker (a text only that program's command line holds, such as its log
// file's path); 0 when there is none, or more than one.
int UnixProcessWith(const std::string& marker);

// Sends the named signal ("STOP", "CONT") to a Unix process; true when kill
// did so.
bool SignalUnixProcess(int unixPid, const std::string& signal);

} // namespace krvn_test
