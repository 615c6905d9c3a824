// A reason for Windows to show while TEST or UPDATE runs and the program refuses the end of
// the session: Vista and later list it on the shutdown screen. Older Windows (the program
// starts on XP) has no such call, so the calls are looked up in user32 at run time.
#pragma once

#include <windows.h>

#include <optional>

// The two user32 calls; either may be null where user32 has none.
struct ShutdownBlockApi {
    BOOL(WINAPI* create)(HWND window, LPCWSTR reason) = nullptr;
    BOOL(WINAPI* destroy)(HWND window) = nullptr;
};

// user32's calls, or a stand-in's once SetShutdownBlockApi gave one.
ShutdownBlockApi CurrentShutdownBlockApi();
// Replaces the calls (tests); nullopt goes back to user32's.
void SetShutdownBlockApi(std::optional<ShutdownBlockApi> api);

// Gives window the reason for as long as it lives, where Windows takes one.
class ShutdownBlockReason {
public:
    ShutdownBlockReason(HWND window, LPCWSTR reason);
    ~ShutdownBlockReason();
    ShutdownBlockReason(const ShutdownBlockReason&) = delete;
    ShutdownBlockReason& operator=(const ShutdownBlockReason&) = delete;

private:
    HWND m_window;
    ShutdownBlockApi m_api;
    bool m_given = false;
};

// The reason the program gives while TEST or UPDATE runs.
inline constexpr const wchar_t* kExchangeShutdownReason =
    L"Updating the scanner's firmware - do not switch off";
