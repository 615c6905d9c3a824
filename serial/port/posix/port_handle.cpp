// Releasing an open port: what it leaves behind on the terminal, then the descriptor and the lock.
#include "port_handle.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>

#include "low_latency.h"
#include "serial_termios.h"
#include "thread_alarm.h"

namespace {

using std::chrono::steady_clock;

// Beyond the queued bytes' time on the line, for what a USB adapter adds (a USB frame, its
// latency timer) before the driver counts them gone.
constexpr auto kDrainMargin = std::chrono::milliseconds(100);
// How long close() may wait in the driver for output it still holds.
constexpr auto kCloseLimit = std::chrono::milliseconds(250);
// What makes a terminal send received bytes back: echo, and the newline echo of a canonical
// line that has echo itself off.
constexpr tcflag_t kEchoFlags = ECHO | ECHONL;

bool SameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(std::begin(a.c_cc), std::end(a.c_cc), b.c_cc);
}

// Puts the settings found back where they are still the ones we set: a change made since by
// the terminal's owner is its word, and stands.
void PutBackUnlessChanged(int fd, const termios& ours, const termios& found) {
    termios now{};
    if (tcgetattr(fd, &now) == 0 && SameSettings(now, ours)) {
        tcsetattr(fd, TCSANOW, &found);
    }
}

// The time count characters take on the line at the terminal's present settings; none when
// its speed is unknown.
steady_clock::duration LineTime(int fd, int count) {
    termios now{};
    if (tcgetattr(fd, &now) != 0) {
        return {};
    }
    const Dcb dcb = TermiosToDcb(now);
    if (dcb.BaudRate == 0) {
        return {};
    }
    const int bits =
        1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
    const double seconds = static_cast<double>(count) * bits / dcb.BaudRate;
    return std::chrono::duration_cast<steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

// The moment by which our last bytes must have left: the time the bytes still queued take on
// the line, plus a margin.
steady_clock::time_point OutputDeadline(int fd) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued < 0) {
        queued = 0;
    }
    return steady_clock::now() + LineTime(fd, queued) + kDrainMargin;
}

// Gives the bytes still queued for output until the deadline, then discards what is left: an
// adapter that has stopped taking data must not hold the close. The queue is polled as the
// write path polls it; tcdrain would wait with no limit. Nothing is discarded once the queue
// is empty: on a pseudo-terminal that would take from the far end what it has not read yet.
// True when the queue emptied (or the driver can no longer say), false when it was discarded.
bool LetOutputLeave(int fd, steady_clock::time_point deadline) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
        return true;
    }
    while (queued > 0 && steady_clock::now() < deadline) {
        poll(nullptr, 0, 1);
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
            return true;  // the driver can no longer say (the adapter was pulled)
        }
    }
    if (queued > 0) {
        tcflush(fd, TCOFLUSH);
        return false;
    }
    return true;
}

// Applies settings once the adapter has sent everything, TCSADRAIN: a USB adapter's driver
// counts its chip's own buffer out of TIOCOUTQ, and only that wait includes it. The wait has no
// limit of its own, so it runs under the alarm until the deadline; false when it could not be
// bounded or was cut short, the settings not applied then.
bool ApplyOnceSent(int fd, const termios& settings, steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    const ThreadAlarm alarm(left);
    return alarm.Armed() && tcsetattr(fd, TCSADRAIN, &settings) == 0;
}

// Puts settings back once our last bytes have left at the speed they were written with, within
// their time on the line plus a margin; when that runs out they go back at once.
void PutBackOnceSent(int fd, const termios& settings) {
    const auto deadline = OutputDeadline(fd);
    if (LetOutputLeave(fd, deadline) && ApplyOnceSent(fd, settings, deadline)) {
        return;
    }
    tcsetattr(fd, TCSANOW, &settings);
}

// close() of a terminal waits in the kernel until the driver's output has left, up to the
// port's closing wait (30 s by default). O_NONBLOCK, which our descriptor has, does not shorten
// that wait: the kernel does not look at it there. Nor can closing_wait be lowered: an ordinary
// user's TIOCSSERIAL is refused (EPERM) when it changes it, and a lowered one would outlive us.
// Discarding what is left before leaves most drivers nothing to wait for, but USB serial
// drivers keep what they have taken until the port is shut down. So the close runs under an alarm:
// the closing wait gives way to a signal, and the driver then discards what is left.
void CloseWithoutWaiting(int fd) {
    const ThreadAlarm alarm(kCloseLimit);
    ::close(fd);
}

}  // namespace

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept {
    if (this != &other) {
        Reset();
        lineErrors = other.lineErrors;
        exclusive = other.exclusive;
        lowLatencySet = other.lowLatencySet;
        configured = other.configured;
        hungUp = other.hungUp;
        lock = std::move(other.lock);
        settingsBefore = other.settingsBefore;
        quietSettings = other.quietSettings;
        m_fd = other.Release();
    }
    return *this;
}

void PortHandle::SilenceEcho() {
    termios found{};
    if (m_fd < 0 || tcgetattr(m_fd, &found) != 0) {
        return;
    }
    RememberSettings(found);
    if ((found.c_lflag & kEchoFlags) == 0) {
        return;  // nothing to change: a line already set up is not touched
    }
    termios quiet = found;
    quiet.c_lflag &= ~kEchoFlags;
    if (tcsetattr(m_fd, TCSANOW, &quiet) == 0) {
        quietSettings = quiet;
    }
}

void PortHandle::Reset() {
    if (m_fd >= 0) {
        // A port we configured is left with the line settings we found, echo off, once our
        // last bytes have left at the speed they were written with. A refused open may have
        // reached somebody's terminal, whose output is not ours to discard: only what
        // SilenceEcho changed is undone there.
        if (configured && settingsBefore) {
            termios restored = *settingsBefore;
            restored.c_lflag &= ~kEchoFlags;
            PutBackOnceSent(m_fd, restored);
        } else if (quietSettings && settingsBefore) {
            PutBackUnlessChanged(m_fd, *quietSettings, *settingsBefore);
        }
        if (lowLatencySet) {
            TurnOffLowLatency(m_fd);
        }
        // The terminal may outlive our descriptor (a simulator holding the other side open),
        // and its exclusive flag with it; lift it, or the next open of the port is refused.
        if (exclusive) {
            ioctl(m_fd, TIOCNXCL);
        }
        CloseWithoutWaiting(m_fd);
        m_fd = -1;
        exclusive = false;
        lowLatencySet = false;
        configured = false;
        hungUp = false;
        settingsBefore.reset();
        quietSettings.reset();
    }
    // Only once the port is closed may a program that waits for the lock file take it.
    lock.Release();
}
