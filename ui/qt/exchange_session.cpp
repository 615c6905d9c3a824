#include "exchange_session.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QWidget>

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

ExchangeSession::ExchangeSession(QWidget* mainWindow, exchange::IPortOpener& opener,
                                 exchange::IClock& clock)
    : m_blocker(mainWindow),
      m_opener(opener, m_pump),
      m_clock(clock, m_pump, EventPump::kPumpIntervalMs) {
    QCoreApplication::instance()->installEventFilter(&m_blocker);
}

ExchangeSession::~ExchangeSession() {
    // Input that arrived during the exchange is dispatched now, while the blocker still drops
    // it, instead of reaching the dialog once the exchange is over.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(&m_blocker);
}

exchange::IPortOpener& ExchangeSession::Opener() {
    return m_opener;
}

exchange::IClock& ExchangeSession::Clock() {
    return m_clock;
}

IEventPump& ExchangeSession::Pump() {
    return m_pump;
}
