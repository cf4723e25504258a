#pragma once
// Command line of the substitute disk server.

#include <cstdint>
#include <string>
#include <vector>

// What the TCP listener answers to an accepted password.
enum class ReplyMode {
    Yes,     // "yes"
    YesCrlf, // "yes\r\n"
    Upper,   // "YES"
    Short,   // "ye"
    None,    // closes the connection without a word
    Split,   // "y", and "es" a moment later
    Silent,  // never answers and keeps the connection
};

// The mode's name as --reply takes it.
const char* ReplyName(ReplyMode mode);

// The RPC procedure that is never answered, once its first calls were.
enum class RpcHang {
    None,
    Open,  // RemoteOpen
    Alarm, // RemoteAlarm
};

// Consecutive IPv4 addresses (host byte order) listening on one port; port 0
// lets the system choose one port for the whole range.
struct ListenRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint16_t port = 0;
};

struct Options {
    std::wstring logPath;
    bool echo = false;
    std::vector<ListenRange> listen;
    std::wstring password;
    // More passwords accepted as well as password, by TCP and RPC alike: one
    // RPC server process can stand for several listed servers, each known by
    // its own password in the log.
    std::vector<std::wstring> alsoAccepted;
    bool refuse = false;
    ReplyMode reply = ReplyMode::Yes;
    int replyDelayMs = 0;   // the answer to a password waits this long
    std::string extra;      // bytes sent after an accepted password's answer
    int extraAfterMs = 300; // how long after the answer they follow
    int closeAfterMs = -1;
    int resetAfterMs = -1;
    bool rpc = false;
    bool openResultGiven = false;
    long openResult = 0;
    RpcHang rpcHang = RpcHang::None;
    int rpcHangAfter = 0; // calls of that procedure answered before the hang begins
    std::wstring stopEvent;
    int lifetimeSeconds = 0;
};

extern const wchar_t* const kUsage;

// Fills options from the arguments after the program name; on a mistake
// returns false with a one-line explanation.
bool ParseOptions(int argc, const wchar_t* const* argv, Options& options, std::wstring& error);
