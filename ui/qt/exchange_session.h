// Keeps the windows painted, and user input away from them, while an exchange runs inside a
// click on the one thread.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <memory>

#include "exchange_io.h"
#include "pumping_io.h"

// Lets queued paint, timer and window-system work run at most every kPumpIntervalMs, without
// dispatching user input.
class EventPump : public IEventPump {
public:
    static constexpr int kPumpIntervalMs = 30;
    EventPump();
    // Runs the queued non-input events when the interval has passed.
    void MaybePump() override;

private:
    QElapsedTimer m_sinceLast;
};

// Discards mouse, key, wheel, context-menu and close events aimed at the main dialog or at the
// windows it owns, except message boxes, whose buttons stay usable.
class InputBlocker : public QObject {
public:
    // Blocks input to mainWindow and its owned windows while installed.
    explicit InputBlocker(QWidget* mainWindow);
    // Decides per event; true drops it.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Whether input to widget's window is dropped.
    bool IsBlockedWindow(const QWidget* widget) const;

private:
    QPointer<QWidget> m_mainWindow;
};

// One exchange's surroundings: the opener and clock that pump events, and the input blocker,
// installed on construction and removed, after a last discarding flush, on destruction.
class ExchangeSession {
public:
    ExchangeSession(QWidget* mainWindow, exchange::IPortOpener& opener, exchange::IClock& clock);
    ~ExchangeSession();
    ExchangeSession(const ExchangeSession&) = delete;
    ExchangeSession& operator=(const ExchangeSession&) = delete;
    // The opener to give the exchange; its ports pump events.
    exchange::IPortOpener& Opener();
    // The clock to give the exchange; it pumps events, also within long pauses.
    exchange::IClock& Clock();
    // The pump itself, for other waits of the exchange's (the keep-awake hold).
    IEventPump& Pump();

private:
    EventPump m_pump;
    InputBlocker m_blocker;
    PumpingOpener m_opener;
    PumpingClock m_clock;
};
