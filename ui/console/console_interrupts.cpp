#include "console_interrupts.h"

void ConsoleInterrupts::Check() {
    if (m_terminate.load(std::memory_order_relaxed)) {
        End();
    }
    const int presses = m_presses.load(std::memory_order_relaxed);
    if (presses == 0) {
        return;
    }
    if (!m_uploadUnderWay || presses >= 2) {
        End();
    }
    if (!m_noticeShown) {
        m_noticeShown = true;
        if (m_uploadNotice) {
            m_uploadNotice();
        }
    }
}

bool ConsoleInterrupts::Pending() const {
    const int presses = m_presses.load(std::memory_order_relaxed);
    return m_terminate.load(std::memory_order_relaxed) || presses >= 2 ||
           (presses == 1 && (!m_uploadUnderWay || !m_noticeShown));
}

void ConsoleInterrupts::End() {
    m_ended = true;
    throw ConsoleInterrupted{};
}

ConsoleInterrupts::UploadScope::UploadScope(ConsoleInterrupts& interrupts)
    : m_interrupts(interrupts) {
    m_interrupts.m_uploadUnderWay = true;
}

ConsoleInterrupts::UploadScope::~UploadScope() {
    m_interrupts.m_uploadUnderWay = false;
}
