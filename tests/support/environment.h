#pragma once
// What a test program learns from its environment (set by CTest, see
// cmake/KrvnTesting.cmake), and the Wine prefix's view of Unix paths.

#include <string>
#include <vector>

namespace krvn_test {

// The variable's value, or "" when it is not set.
std::string Env(const char* name);
// The prefix maps drive Z: to the Unix root.
std::wstring DosPath(const std::string& unixPath);
// ASCII text as a wide string (port names, addresses).
std::wstring Wide(const std::string& text);
// Runs a Unix program (argv[0] a path or a name on PATH) to its end through
// Wine's own spawn; true when it ended with 0.
bool RunUnix(std::vector<std::string> argv);

} // namespace krvn_test
