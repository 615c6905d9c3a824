// A signal to this thread once a time has passed, so that a kernel wait that gives way to
// signals (a terminal's closing wait) cannot hold the thread longer.
#pragma once

#include <time.h>

#include <chrono>

// Arms the alarm on construction, disarms it on destruction. Where the signal cannot be had
// (another part of the process handles it) nothing is armed and waits run their course.
class ThreadAlarm {
public:
    explicit ThreadAlarm(std::chrono::milliseconds after);
    ~ThreadAlarm();
    ThreadAlarm(const ThreadAlarm&) = delete;
    ThreadAlarm& operator=(const ThreadAlarm&) = delete;

private:
    timer_t m_timer{};
    bool m_armed = false;
};
