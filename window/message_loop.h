#pragma once
// The message loop of a thread: runs until WM_QUIT and returns its exit code.

namespace KRVN {

class CMessageLoop {
public:
    // A failing GetMessageW (-1) is skipped, not taken for WM_QUIT.
    int Run();
};

} // namespace KRVN
