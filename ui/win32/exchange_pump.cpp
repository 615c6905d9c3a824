#include "exchange_pump.h"

MessagePump::MessagePump(HWND mainWindow) : m_mainWindow(mainWindow), m_lastPump(GetTickCount()) {}

MessagePump::~MessagePump() {
    if (m_quitSeen) {
        PostQuitMessage(m_quitCode);
    }
}

bool MessagePump::IsUserInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

bool MessagePump::IsOurWindow(HWND hwnd) const {
    if (hwnd == nullptr || m_mainWindow == nullptr) {
        return false;
    }
    if (hwnd == m_mainWindow || IsChild(m_mainWindow, hwnd)) {
        return true;
    }
    // Owned windows such as the progress window, and their controls.
    HWND root = GetAncestor(hwnd, GA_ROOT);
    for (HWND owner = GetWindow(root, GW_OWNER); owner != nullptr;
         owner = GetWindow(owner, GW_OWNER)) {
        if (owner == m_mainWindow) {
            return true;
        }
    }
    return false;
}

void MessagePump::MaybePump() {
    if (GetTickCount() - m_lastPump < kPumpIntervalMs) {
        return;
    }
    Pump();
}

void MessagePump::Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            m_quitSeen = true;
            m_quitCode = static_cast<int>(msg.wParam);
            continue;
        }
        if (IsUserInput(msg.message) && IsOurWindow(msg.hwnd)) {
            continue;
        }
        DispatchMessageA(&msg);
    }
    m_lastPump = GetTickCount();
}

void MessagePump::DiscardInput() {
    static constexpr UINT kInputRanges[][2] = {{WM_KEYFIRST, WM_KEYLAST},
                                               {WM_MOUSEFIRST, WM_MOUSELAST},
                                               {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}};
    for (const auto& range : kInputRanges) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, range[0], range[1], PM_NOREMOVE)) {
            if (!IsOurWindow(msg.hwnd)) {
                break;  // input for another window stays where it is
            }
            PeekMessageA(&msg, msg.hwnd, msg.message, msg.message, PM_REMOVE);
        }
    }
}

ExchangeSession::ExchangeSession(HWND mainWindow, exchange::IPortOpener& opener,
                                 exchange::IClock& clock, IKeepAwake* keepAwake)
    : m_shutdownReason(mainWindow, kExchangeShutdownReason),
      m_pump(mainWindow),
      m_opener(opener, m_pump),
      m_clock(clock, m_pump, MessagePump::kPumpIntervalMs) {
    if (keepAwake != nullptr) {
        m_keepAwake.emplace(*keepAwake);
    }
}

ExchangeSession::~ExchangeSession() {
    m_pump.DiscardInput();
}
