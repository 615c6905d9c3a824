#include "exchange_session.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QWidget>
#include <algorithm>

EventPump::EventPump() {
    m_sinceLast.start();
}

void EventPump::MaybePump() {
    if (m_sinceLast.elapsed() < kPumpIntervalMs) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sinceLast.restart();
}

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

}  // namespace

InputBlocker::InputBlocker(QWidget* mainWindow) : m_mainWindow(mainWindow) {}

bool InputBlocker::IsBlockedWindow(const QWidget* widget) const {
    if (widget == nullptr || m_mainWindow == nullptr) {
        return false;
    }
    const QWidget* window = widget->window();
    if (window == m_mainWindow->window()) {
        return true;
    }
    if (qobject_cast<const QMessageBox*>(window) != nullptr) {
        return false;
    }
    for (const QWidget* owner = window->parentWidget(); owner != nullptr;
         owner = owner->parentWidget()) {
        if (owner == m_mainWindow) {
            return true;
        }
    }
    return false;
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
    if (!IsUserInput(event->type())) {
        return false;
    }
    const QWidget* target = qobject_cast<const QWidget*>(watched);
    if (target == nullptr && watched != nullptr) {
        // Shortcuts and actions are delivered to their own objects, owned by a widget.
        target = qobject_cast<const QWidget*>(watched->parent());
    }
    if (!IsBlockedWindow(target)) {
        return false;
    }
    // A close event that is dropped but still accepted would close the window anyway.
    event->ignore();
    return true;
}

namespace {

// A port whose every call first lets the pump run.
class PumpingPort : public exchange::IPort {
public:
    PumpingPort(std::unique_ptr<exchange::IPort> port, EventPump& pump)
        : m_port(std::move(port)), m_pump(pump) {}
    int BytesWaiting() override {
        m_pump.MaybePump();
        return m_port->BytesWaiting();
    }
    int Read(void* buffer, int count, int limitMs) override {
        m_pump.MaybePump();
        return m_port->Read(buffer, count, limitMs);
    }
    int Write(const void* buffer, int count, int limitMs) override {
        m_pump.MaybePump();
        return m_port->Write(buffer, count, limitMs);
    }
    void DrainInput() override {
        m_pump.MaybePump();
        m_port->DrainInput();
    }

private:
    std::unique_ptr<exchange::IPort> m_port;
    EventPump& m_pump;
};

}  // namespace

class ExchangeSession::PumpingOpener : public exchange::IPortOpener {
public:
    PumpingOpener(exchange::IPortOpener& opener, EventPump& pump)
        : m_opener(opener), m_pump(pump) {}
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override {
        auto port = m_opener.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts);
        if (!port) {
            return nullptr;
        }
        return std::make_unique<PumpingPort>(std::move(port), m_pump);
    }

private:
    exchange::IPortOpener& m_opener;
    EventPump& m_pump;
};

// Long pauses are cut into slices so that the windows are painted during them too.
class ExchangeSession::PumpingClock : public exchange::IClock {
public:
    PumpingClock(exchange::IClock& clock, EventPump& pump) : m_clock(clock), m_pump(pump) {}
    std::uint32_t GetTickCount() override {
        m_pump.MaybePump();
        return m_clock.GetTickCount();
    }
    void Sleep(std::uint32_t ms) override {
        if (ms == 0) {
            m_pump.MaybePump();
            m_clock.Sleep(0);
            return;
        }
        while (ms > 0) {
            const std::uint32_t slice = std::min<std::uint32_t>(ms, EventPump::kPumpIntervalMs);
            m_clock.Sleep(slice);
            ms -= slice;
            m_pump.MaybePump();
        }
    }

private:
    exchange::IClock& m_clock;
    EventPump& m_pump;
};

ExchangeSession::ExchangeSession(QWidget* mainWindow, exchange::IPortOpener& opener,
                                 exchange::IClock& clock)
    : m_blocker(mainWindow),
      m_opener(std::make_unique<PumpingOpener>(opener, m_pump)),
      m_clock(std::make_unique<PumpingClock>(clock, m_pump)) {
    QCoreApplication::instance()->installEventFilter(&m_blocker);
}

ExchangeSession::~ExchangeSession() {
    // Input that arrived during the exchange is dispatched now, while the blocker still drops
    // it, instead of reaching the dialog once the exchange is over.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(&m_blocker);
}

exchange::IPortOpener& ExchangeSession::Opener() {
    return *m_opener;
}

exchange::IClock& ExchangeSession::Clock() {
    return *m_clock;
}
