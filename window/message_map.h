#pragma once
// Message maps: a window or dialog class lists the messages it handles, in
// the order they are tried; anything not listed gets the default handling.
//
//   KRVN_BEGIN_MSG_MAP()
//       KRVN_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
//       KRVN_COMMAND_ID_HANDLER(IDOK, OnOK)
//       KRVN_NOTIFY_HANDLER(IDC_LIST, LVN_KEYDOWN, OnListKeyDown)
//   KRVN_END_MSG_MAP()
//
// Handlers: LRESULT OnMessage(UINT message, WPARAM, LPARAM);
//           void OnCommand(WORD notifyCode, WORD id, HWND control);
//           LRESULT OnNotify(NMHDR* header).

#include <windows.h>

#define KRVN_BEGIN_MSG_MAP()                                                                       \
public:                                                                                            \
    bool ProcessWindowMessage(HWND krvn_hwnd_, UINT krvn_msg_, WPARAM krvn_wp_, LPARAM krvn_lp_,   \
                              LRESULT& krvn_result_) {                                             \
        (void)krvn_hwnd_;                                                                          \
        (void)krvn_wp_;                                                                            \
        (void)krvn_lp_;                                                                            \
        (void)krvn_result_;

#define KRVN_MESSAGE_HANDLER(message, handler)                                                     \
    if (krvn_msg_ == (message)) {                                                                  \
        krvn_result_ = handler(krvn_msg_, krvn_wp_, krvn_lp_);                                     \
        return true;                                                                               \
    }

// WM_COMMAND from one control (or menu item), whatever its notification code.
#define KRVN_COMMAND_ID_HANDLER(id, handler)                                                       \
    if (krvn_msg_ == WM_COMMAND && LOWORD(krvn_wp_) == (id)) {                                     \
        handler(HIWORD(krvn_wp_), LOWORD(krvn_wp_), reinterpret_cast<HWND>(krvn_lp_));             \
        krvn_result_ = 0;                                                                          \
        return true;                                                                               \
    }

// WM_COMMAND from one control with one notification code.
#define KRVN_COMMAND_HANDLER(id, notifyCode, handler)                                              \
    if (krvn_msg_ == WM_COMMAND && LOWORD(krvn_wp_) == (id) && HIWORD(krvn_wp_) == (notifyCode)) { \
        handler(HIWORD(krvn_wp_), LOWORD(krvn_wp_), reinterpret_cast<HWND>(krvn_lp_));             \
        krvn_result_ = 0;                                                                          \
        return true;                                                                               \
    }

// WM_NOTIFY from one control with one notification code.
#define KRVN_NOTIFY_HANDLER(id, notifyCode, handler)                                               \
    if (krvn_msg_ == WM_NOTIFY && reinterpret_cast<NMHDR*>(krvn_lp_)->idFrom == (id) &&            \
        reinterpret_cast<NMHDR*>(krvn_lp_)->code == static_cast<UINT>(notifyCode)) {               \
        krvn_result_ = handler(reinterpret_cast<NMHDR*>(krvn_lp_));                                \
        return true;                                                                               \
    }

#define KRVN_END_MSG_MAP()                                                                         \
    return false;                                                                                  \
    }

// Hands messages the class did not handle to its base's map.
#define KRVN_CHAIN_MSG_MAP(Base)                                                                   \
    if (Base::ProcessWindowMessage(krvn_hwnd_, krvn_msg_, krvn_wp_, krvn_lp_, krvn_result_)) {     \
        return true;                                                                               \
    }
