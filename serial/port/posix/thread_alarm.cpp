#include "thread_alarm.h"

#include <pthread.h>
#include <unistd.h>

namespace {

// Once the time is up, how often the signal comes again until the alarm is disarmed.
constexpr long kRepeatNs = 10'000'000;  // 10 ms

// Does nothing: the handler is there so that the signal interrupts a wait instead of ending
// the process.
void OnAlarm(int) {}

// Installs the handler, without SA_RESTART so that an interrupted wait is not resumed; false
// when somebody else handles the signal. An ignored signal is taken over: nothing in this
// program ignores it, so the ignoring came from the parent, which a signal's disposition
// survives across exec.
bool HandlerInstalled() {
    struct sigaction current {};
    if (sigaction(ThreadAlarm::Signal(), nullptr, &current) != 0) {
        return false;
    }
    const bool ours = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == OnAlarm;
    const bool free = (current.sa_flags & SA_SIGINFO) == 0 &&
                      (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN);
    if (ours || !free) {
        return ours;
    }
    struct sigaction action {};
    action.sa_handler = OnAlarm;
    sigemptyset(&action.sa_mask);
    return sigaction(ThreadAlarm::Signal(), &action, nullptr) == 0;
}

// Lets the signal through to this thread; true when it was blocked here before.
bool Unblock() {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, ThreadAlarm::Signal());
    sigset_t before;
    return pthread_sigmask(SIG_UNBLOCK, &alarm, &before) == 0 &&
           sigismember(&before, ThreadAlarm::Signal()) == 1;
}

// Blocks the signal again, as it came, and takes away one of ours that is still pending: it
// would otherwise be delivered whenever the thread next lets the signal through.
void BlockAgain() {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, ThreadAlarm::Signal());
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
    const timespec none{};
    while (sigtimedwait(&alarm, nullptr, &none) == ThreadAlarm::Signal()) {
    }
}

}  // namespace

// A real-time signal nothing else in this program uses.
int ThreadAlarm::Signal() {
    return SIGRTMIN + 4;
}

ThreadAlarm::ThreadAlarm(std::chrono::milliseconds after) {
    if (!HandlerInstalled()) {
        return;
    }
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = Signal();
    event._sigev_un._tid = gettid();
    if (timer_create(CLOCK_MONOTONIC, &event, &m_timer) != 0) {
        return;
    }
    m_unblocked = Unblock();
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(after.count() / 1000);
    when.it_value.tv_nsec = static_cast<long>(after.count() % 1000) * 1'000'000L;
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) {
        when.it_value.tv_nsec = 1;  // a zero value would disarm the timer instead
    }
    when.it_interval.tv_nsec = kRepeatNs;
    m_armed = timer_settime(m_timer, 0, &when, nullptr) == 0;
    if (!m_armed) {
        timer_delete(m_timer);
        if (m_unblocked) {
            BlockAgain();
        }
    }
}

ThreadAlarm::~ThreadAlarm() {
    if (!m_armed) {
        return;
    }
    timer_delete(m_timer);
    if (m_unblocked) {
        BlockAgain();
    }
}
