// A signal to this thread once a time has passed, so that a kernel wait that gives way to
// signals (a terminal's closing wait) cannot hold the thread longer.
#pragma once

#include <signal.h>
#include <time.h>

#include <chrono>

// Arms the alarm on construction, disarms it on destruction. Once the time is up the signal
// comes again every few milliseconds until then, so that a wait entered after the first one
// (the thread was held up before it) is cut short all the same. The signal is let through to
// this thread meanwhile, also where it came blocked or ignored from the program's parent. Where
// it cannot be had (another part of the process handles it) nothing is armed and waits run
// their course.
class ThreadAlarm {
public:
    explicit ThreadAlarm(std::chrono::milliseconds after);
    ~ThreadAlarm();
    ThreadAlarm(const ThreadAlarm&) = delete;
    ThreadAlarm& operator=(const ThreadAlarm&) = delete;

    // Whether the alarm is armed: a wait under it is bounded.
    bool Armed() const { return m_armed; }
    // The signal the alarm sends.
    static int Signal();

private:
    timer_t m_timer{};
    bool m_armed = false;
    bool m_unblocked = false;  // the signal was blocked in this thread and is let through
};
