#include "thread_alarm.h"

#include <signal.h>
#include <unistd.h>

namespace {

// A real-time signal nothing else in this program uses.
int AlarmSignal() {
    return SIGRTMIN + 4;
}

// Does nothing: the handler is there so that the signal interrupts a wait instead of ending
// the process.
void OnAlarm(int) {}

// Installs the handler once, without SA_RESTART so that an interrupted wait is not resumed;
// false when somebody else handles or ignores the signal.
bool HandlerInstalled() {
    static const bool installed = [] {
        struct sigaction current {};
        if (sigaction(AlarmSignal(), nullptr, &current) != 0 ||
            (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) {
            return false;
        }
        struct sigaction action {};
        action.sa_handler = OnAlarm;
        sigemptyset(&action.sa_mask);
        return sigaction(AlarmSignal(), &action, nullptr) == 0;
    }();
    return installed;
}

}  // namespace

ThreadAlarm::ThreadAlarm(std::chrono::milliseconds after) {
    if (!HandlerInstalled()) {
        return;
    }
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = AlarmSignal();
    event._sigev_un._tid = gettid();
    if (timer_create(CLOCK_MONOTONIC, &event, &m_timer) != 0) {
        return;
    }
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(after.count() / 1000);
    when.it_value.tv_nsec = static_cast<long>(after.count() % 1000) * 1'000'000L;
    m_armed = timer_settime(m_timer, 0, &when, nullptr) == 0;
    if (!m_armed) {
        timer_delete(m_timer);
    }
}

ThreadAlarm::~ThreadAlarm() {
    if (m_armed) {
        timer_delete(m_timer);
    }
}
