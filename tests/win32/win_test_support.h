// Shared pieces of the Win32 dialog tests: the common controls, message boxes answered and
// recorded through the hook, stand-in ports and clock owned by the test, window look-ups.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exchange_fakes.h"

namespace wintest {

// One message box as the program asked for it, and what stood on screen at that moment.
struct BoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    unsigned style;
    bool ownerVisible;
    HWND progressWindow;  // the visible progress window, or null
};

// Answers every message box through the hook: the queued answers first, then IDYES for a
// question and IDOK otherwise. onBox runs before the answer is given.
class BoxAnswerer {
public:
    BoxAnswerer();
    ~BoxAnswerer();
    std::deque<int> answers;
    std::vector<BoxRecord> boxes;
    std::function<void(const BoxRecord&)> onBox;
};

// Forwards to an opener the test owns (the dialog owns what it is given).
class ForwardingOpener : public exchange::IPortOpener {
public:
    explicit ForwardingOpener(exchange::IPortOpener& inner) : m_inner(inner) {}
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override {
        return m_inner.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts);
    }

private:
    exchange::IPortOpener& m_inner;
};

// Forwards to the test's clock; onSleep runs on every Sleep, inside the exchange.
class ForwardingClock : public exchange::IClock {
public:
    explicit ForwardingClock(exchange::IClock& inner, std::function<void()>& onSleep)
        : m_inner(inner), m_onSleep(onSleep) {}
    std::uint32_t GetTickCount() override { return m_inner.GetTickCount(); }
    void Sleep(std::uint32_t ms) override {
        if (m_onSleep) {
            m_onSleep();
        }
        m_inner.Sleep(ms);
    }

private:
    exchange::IClock& m_inner;
    std::function<void()>& m_onSleep;
};

// The text of a window or control.
std::string WindowText(HWND hwnd);
// The visible progress window (caption set by the upload) of this thread, or null.
HWND FindProgressWindow();
// The visible dialog of this thread with the given caption, or null.
HWND FindDialogByCaption(const std::string& caption);
// Dispatches what is queued, as the dialog's own loop would, without waiting.
void DispatchQueued(HWND dialog);
// The program's own file name without extension, as message boxes carry it.
std::string OwnTitle();

}  // namespace wintest
