#include "interrupts.h"

void ConsoleInterrupts::Check() {
    if (m_shared->terminate.load(std::memory_order_relaxed)) {
        End();
    }
    const int presses = m_shared->presses.load(std::memory_order_relaxed);
    if (presses == 0) {
        return;
    }
    if (!m_uploadUnderWay || presses >= 2) {
        End();
    }
    if (!m_shared->noticeShown.exchange(true) && m_shared->notice) {
        m_shared->notice();
    }
}

bool ConsoleInterrupts::Pending() const {
    const int presses = m_shared->presses.load(std::memory_order_relaxed);
    return m_shared->terminate.load(std::memory_order_relaxed) || presses >= 2 ||
           (presses == 1 && (!m_uploadUnderWay || !m_shared->noticeShown.load()));
}

void ConsoleInterrupts::End() {
    m_ended = true;
    throw ConsoleInterrupted{};
}
