#pragma once
// How a tray-style client of the campaign behaves in its callbacks, as its
// command line names it (tray_client.cpp) and the campaign models it.

#include <cstring>

namespace krvn_chaos {

// Its IChangeIconEvents sink.
enum class IconMode {
    Record,  // notes each call and returns
    Hang,    // never returns from ChangeIcon
    Refresh, // calls RefreshState on the service from inside its first ChangeIcon
    Remove,  // removes the extra server from inside its first ChangeIcon
};

// Its red-button sink, if any.
enum class ButtonMode {
    None,   // advises no red-button sink
    Take,   // forward flag 1; notes each press and returns
    Hang,   // forward flag 1; never returns from RedButtonPressed
    Ignore, // forward flag 0: presses are the client's to ignore
};

inline const char* IconModeName(IconMode mode) {
    switch (mode) {
    case IconMode::Record:
        return "record";
    case IconMode::Hang:
        return "hang";
    case IconMode::Refresh:
        return "refresh";
    case IconMode::Remove:
        return "remove";
    }
    return "?";
}

inline const char* ButtonModeName(ButtonMode mode) {
    switch (mode) {
    case ButtonMode::None:
        return "none";
    case ButtonMode::Take:
        return "take";
    case ButtonMode::Hang:
        return "hang";
    case ButtonMode::Ignore:
        return "ignore";
    }
    return "?";
}

inline bool ParseIconMode(const char* text, IconMode& mode) {
    for (const IconMode candidate :
         {IconMode::Record, IconMode::Hang, IconMode::Refresh, IconMode::Remove}) {
        if (std::strcmp(text, IconModeName(candidate)) == 0) {
            mode = candidate;
            return true;
        }
    }
    return false;
}

inline bool ParseButtonMode(const char* text, ButtonMode& mode) {
    for (const ButtonMode candidate :
         {ButtonMode::None, ButtonMode::Take, ButtonMode::Hang, ButtonMode::Ignore}) {
        if (std::strcmp(text, ButtonModeName(candidate)) == 0) {
            mode = candidate;
            return true;
        }
    }
    return false;
}

} // namespace krvn_chaos
