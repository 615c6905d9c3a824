// Keeps the windows painted, and user input away from them, while an exchange runs inside a
// click on the one thread: paint, timer and other non-input messages are dispatched every
// kPumpIntervalMs; keyboard and mouse messages bound for our windows are dropped.
#pragma once

#include <windows.h>

#include <optional>

#include "dialog_base.h"
#include "exchange_io.h"
#include "keep_awake.h"
#include "pumping_io.h"
#include "shutdown_block.h"

class MessagePump : public IEventPump {
public:
    static constexpr DWORD kPumpIntervalMs = 30;
    // Our windows are mainWindow, its controls and the windows it owns.
    explicit MessagePump(HWND mainWindow);
    // Runs the queued messages when the interval has passed.
    void MaybePump() override;
    // Dispatches the queued non-input messages now and drops the input bound for our windows.
    void Pump();
    // Drops the queued input bound for our windows, dispatching nothing.
    void DiscardInput();
    // Keyboard and mouse messages, client and non-client.
    static bool IsUserInput(UINT message);
    // Whether hwnd is the main window, one of its controls or a window it owns.
    bool IsOurWindow(HWND hwnd) const;
    // WM_QUIT seen while pumping is posted again, so the outer loop still ends.
    ~MessagePump() override;

private:
    HWND m_mainWindow;
    DWORD m_lastPump;
    bool m_quitSeen = false;
    int m_quitCode = 0;
};

// One exchange's surroundings: the dialogs refuse what would end the program or stop the
// exchange (BusyScope), Windows gets a reason not to end the session, the machine is kept
// awake when keepAwake is given (UPDATE writes the firmware), and the opener and clock pump
// messages. On destruction the input that arrived meanwhile is dropped instead of reaching the
// dialog afterwards, and all of it is given back.
class ExchangeSession {
public:
    ExchangeSession(HWND mainWindow, exchange::IPortOpener& opener, exchange::IClock& clock,
                    IKeepAwake* keepAwake = nullptr);
    ~ExchangeSession();
    ExchangeSession(const ExchangeSession&) = delete;
    ExchangeSession& operator=(const ExchangeSession&) = delete;
    exchange::IPortOpener& Opener() { return m_opener; }
    exchange::IClock& Clock() { return m_clock; }
    MessagePump& Pump() { return m_pump; }
    // Whether a dialog's handler failed with an exception meanwhile.
    bool HandlerFailed() const { return m_busy.FailureSeen(); }

private:
    BusyScope m_busy;
    ShutdownBlockReason m_shutdownReason;
    std::optional<KeepAwakeScope> m_keepAwake;
    MessagePump m_pump;
    PumpingOpener m_opener;
    PumpingClock m_clock;
};
