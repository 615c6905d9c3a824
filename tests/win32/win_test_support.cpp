#include "win_test_support.h"

#include <commctrl.h>

#include "win_message_box.h"

namespace wintest {

namespace {

// The progress bar class must be registered before dialog 6000 can be created.
[[maybe_unused]] const bool g_commonControls = [] {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    return InitCommonControlsEx(&controls) != FALSE;
}();

struct FindState {
    std::string caption;
    bool progress;
    HWND found;
};

BOOL CALLBACK FindInThread(HWND hwnd, LPARAM param) {
    auto* state = reinterpret_cast<FindState*>(param);
    if (!IsWindowVisible(hwnd)) {
        return TRUE;
    }
    const bool match = state->progress
                           ? GetDlgItem(hwnd, 6000) != nullptr && GetDlgItem(hwnd, 1002) == nullptr
                           : WindowText(hwnd) == state->caption;
    if (match) {
        state->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const std::string& caption, bool progress) {
    FindState state{caption, progress, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &FindInThread, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

}  // namespace

BoxAnswerer::BoxAnswerer() {
    SetMessageBoxHook(
        [this](HWND owner, const std::string& text, const std::string& caption, unsigned style) {
            boxes.push_back({owner, text, caption, style,
                             owner != nullptr && IsWindowVisible(owner), FindProgressWindow()});
            if (onBox) {
                onBox(boxes.back());
            }
            if (!answers.empty()) {
                const int answer = answers.front();
                answers.pop_front();
                return answer;
            }
            return (style & 0x0F) == MB_YESNO ? IDYES : IDOK;
        });
}

BoxAnswerer::~BoxAnswerer() {
    SetMessageBoxHook({});
}

std::string WindowText(HWND hwnd) {
    char text[1024] = {};
    SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

HWND FindProgressWindow() {
    return Find("", true);
}

HWND FindDialogByCaption(const std::string& caption) {
    return Find(caption, false);
}

void DispatchQueued(HWND dialog) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog != nullptr && IsDialogMessageA(dialog, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string OwnTitle() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name = path;
    name = name.substr(name.find_last_of("\\/") + 1);
    return name.substr(0, name.rfind('.'));
}

}  // namespace wintest
