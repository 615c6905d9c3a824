// Drives the real tr520-updater.exe as a user would, from another process: Yes to the
// warning, the COM port, TEST, OK, UPDATE, then EXIT once the completion text shows. Checks on
// the way that the upload's progress bar moves and that the dialog keeps answering messages.
//   updater_driver.exe PROGRAM COM_NUMBER [HOLD_MS]
// HOLD_MS keeps the finished dialog on screen that long before EXIT (for a screenshot).
// Exit status 0 when every step was seen.
#include <windows.h>
// Needs <windows.h> before it.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>

namespace {

constexpr DWORD kStepLimitMs = 30000;
constexpr DWORD kUploadLimitMs = 180000;

DWORD g_processId = 0;

std::string Text(HWND hwnd) {
    char text[2048] = {};
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

struct Search {
    std::function<bool(HWND)> match;
    HWND found;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == g_processId && IsWindowVisible(hwnd) && search->match(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The program's first visible top-level window that matches.
HWND FindWindowOf(const std::function<bool(HWND)>& match) {
    Search search{match, nullptr};
    EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box of the program (the box's text control is 0xFFFF).
HWND FindMessageBox() {
    return FindWindowOf([](HWND hwnd) {
        return GetDlgItem(hwnd, 0xFFFF) != nullptr && GetDlgItem(hwnd, 1002) == nullptr;
    });
}

HWND WaitFor(const char* what, const std::function<HWND()>& find, DWORD limitMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        if (HWND found = find()) {
            std::printf("seen: %s\n", what);
            return found;
        }
        Sleep(50);
    }
    std::printf("FAILED: no %s within %lu ms\n", what, limitMs);
    std::exit(1);
}

void Expect(bool condition, const char* what) {
    std::printf("%s: %s\n", condition ? "ok" : "FAILED", what);
    if (!condition) {
        std::exit(1);
    }
}

// Like Expect, silent unless it fails: for checks made over and over.
void Check(bool condition, const char* what) {
    if (!condition) {
        Expect(false, what);
    }
}

void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Answers the message box whose text starts with prefix.
void Answer(const std::string& prefix, int button) {
    HWND box = WaitFor(prefix.c_str(), FindMessageBox, kStepLimitMs);
    const std::string text = Text(GetDlgItem(box, 0xFFFF));
    std::printf("box: %s\n", text.c_str());
    Expect(text.rfind(prefix, 0) == 0, "the box says what was expected");
    PostMessageA(box, WM_COMMAND, button, 0);
}

std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
        path = "Z:" + path;
    }
    return path;
}

// Watches the upload until the completion text shows: the bar's positions, and whether the
// dialog answered a message within 2 s each time it was asked.
void WatchUpload(HWND dialog) {
    std::set<int> positions;
    int unanswered = 0;
    const DWORD start = GetTickCount();
    while (!IsWindowVisible(GetDlgItem(dialog, 1004))) {
        Check(GetTickCount() - start < kUploadLimitMs, "the upload ends in time");
        Check(FindMessageBox() == nullptr, "no message box during the upload");
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored)) {
            ++unanswered;
        }
        HWND progress = FindWindowOf([](HWND hwnd) { return GetDlgItem(hwnd, 6000) != nullptr; });
        if (progress != nullptr) {
            positions.insert(
                static_cast<int>(SendMessageA(GetDlgItem(progress, 6000), PBM_GETPOS, 0, 0)));
        }
        Sleep(100);
    }
    std::printf("upload: %lu ms, %zu bar positions seen, %d unanswered\n", GetTickCount() - start,
                positions.size(), unanswered);
    Expect(positions.size() >= 3, "the bar moved during the upload");
    Expect(unanswered == 0, "the dialog answered messages throughout");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: updater_driver PROGRAM COM_NUMBER [HOLD_MS]\n");
        return 2;
    }
    const int com = std::atoi(argv[2]);
    const DWORD holdMs = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 0;
    std::string command = "\"" + WindowsPath(argv[1]) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    Expect(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process) != FALSE,
           "the program starts");
    g_processId = process.dwProcessId;

    Answer("IMPORTANT!!!", IDYES);
    HWND dialog = WaitFor(
        "main dialog",
        [] { return FindWindowOf([](HWND hwnd) { return GetDlgItem(hwnd, 1002) != nullptr; }); },
        kStepLimitMs);
    std::printf("title: %s\n", Text(dialog).c_str());
    SendMessageA(GetDlgItem(dialog, 1000), CB_SETCURSEL, com - 1, 0);
    Press(dialog, 1002);
    Answer("This update utility contains version", IDOK);
    WaitFor(
        "UPDATE enabled",
        [dialog] { return IsWindowEnabled(GetDlgItem(dialog, 1003)) ? dialog : nullptr; },
        kStepLimitMs);
    Expect(!IsWindowEnabled(GetDlgItem(dialog, 1002)), "TEST is disabled");
    Expect(!IsWindowEnabled(GetDlgItem(dialog, 1000)), "the COM port list is disabled");
    Press(dialog, 1003);
    WatchUpload(dialog);
    const std::string completion = Text(GetDlgItem(dialog, 1004));
    std::printf("completion text: %s\n", completion.c_str());
    Expect(completion.rfind("Operation complete.", 0) == 0, "the completion text shows");
    Expect(IsWindowEnabled(GetDlgItem(dialog, 1002)) && !IsWindowEnabled(GetDlgItem(dialog, 1003)),
           "TEST enabled, UPDATE disabled again");
    Sleep(holdMs);
    Press(dialog, 1);
    Expect(WaitForSingleObject(process.hProcess, kStepLimitMs) == WAIT_OBJECT_0,
           "EXIT ends the program");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
