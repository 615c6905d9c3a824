// The POSIX (Linux) platform behind CSerial: terminal devices through open, termios, ioctl,
// flock and poll. Every error code it reports is the errno of the call that failed.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "com_port_names.h"
#include "low_latency.h"
#include "port_lock.h"
#include "port_safety.h"
#include "serial_platform.h"
#include "serial_termios.h"

namespace {

struct SpeedEntry {
    std::uint32_t baudRate;
    speed_t speed;
};

constexpr std::array<SpeedEntry, 30> kSpeeds{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

std::uint32_t LastError() {
    return ErrorCodeFromErrno(errno);
}

// Errors a device without modem lines (a pseudo-terminal) gives for a modem-line request.
bool MeansNoModemLines(int errnoValue) {
    return errnoValue == ENOTTY || errnoValue == EINVAL || errnoValue == ENOTSUP ||
           errnoValue == ENOSYS;
}

std::optional<LineErrorCounts> ReadLineErrorCounts(int fd) {
    serial_icounter_struct counters{};
    if (ioctl(fd, TIOCGICOUNT, &counters) != 0) {
        return std::nullopt;
    }
    return LineErrorCounts{counters.overrun, counters.parity, counters.frame, counters.brk,
                           counters.buf_overrun};
}

std::uint32_t ErrorMaskSince(const LineErrorCounts& before, const LineErrorCounts& now) {
    std::uint32_t mask = 0;
    mask |= now.bufferOverrun != before.bufferOverrun ? CE_RXOVER : 0;
    mask |= now.overrun != before.overrun ? CE_OVERRUN : 0;
    mask |= now.parity != before.parity ? CE_RXPARITY : 0;
    mask |= now.frame != before.frame ? CE_FRAME : 0;
    mask |= now.brk != before.brk ? CE_BREAK : 0;
    return mask;
}

// Milliseconds from now until the deadline, 0 once it has passed.
int MsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WouldBlock(int errnoValue) {
    return errnoValue == EAGAIN || errnoValue == EWOULDBLOCK || errnoValue == EINTR;
}

// Errors of a terminal that was hung up or whose device was removed (a USB adapter pulled):
// the kernel then answers every call on the descriptor so.
bool MeansDeviceGone(int errnoValue) {
    return errnoValue == EIO || errnoValue == ENXIO || errnoValue == ENODEV;
}

// A poll result that says the same: a hung-up terminal is ready at once with a hang-up.
bool MeansDeviceGone(const pollfd& polled) {
    return (polled.revents & (POLLHUP | POLLERR)) != 0;
}

TransferResult Result(TransferOutcome outcome, int count = 0, std::uint32_t error = 0) {
    return TransferResult{outcome, count, error};
}

// Moves bytes with step (read or write) until count have moved or limitMs runs out, waiting
// for the device with poll. After it returns, the caller's buffer is no longer touched.
template <typename Step>
TransferResult Transfer(PortHandle& port, TransferRecord& record, int count, int limitMs,
                        short events, Step step) {
    const int fd = port.Fd();
    record.requested = static_cast<std::uint32_t>(count);
    record.done = 0;
    record.status = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs > 0 ? limitMs : 0);
    bool started = false;
    while (record.done < record.requested) {
        if (started) {
            pollfd waitFor{fd, events, 0};
            const int ready = poll(&waitFor, 1, MsUntil(deadline));
            if (ready == 0) {
                return Result(TransferOutcome::TimedOut);
            }
            port.hungUp = port.hungUp || (ready > 0 && MeansDeviceGone(waitFor));
            if (ready < 0 && errno != EINTR) {
                return Result(TransferOutcome::WaitFailed);
            }
        }
        const ssize_t moved = step(record.done, record.requested - record.done);
        if (moved > 0) {
            record.done += static_cast<std::uint32_t>(moved);
        } else if (moved == 0 || !WouldBlock(errno)) {
            // Zero bytes from a raw terminal that blocks for one means it was hung up.
            const int failure = moved == 0 ? EIO : errno;
            port.hungUp = port.hungUp || MeansDeviceGone(failure);
            record.status = ErrorCodeFromErrno(failure);
            return Result(started ? TransferOutcome::ResultFailed : TransferOutcome::StartFailed, 0,
                          record.status);
        } else if (started && MsUntil(deadline) == 0) {
            return Result(TransferOutcome::TimedOut);
        }
        started = true;
    }
    return Result(TransferOutcome::Completed, count);
}

// A write is complete once its bytes have left for the line, as a serial driver reports it
// when it has nothing of the transfer left to send; a terminal that cannot say is done.
TransferResult AwaitOutputSent(int fd, std::chrono::steady_clock::time_point deadline,
                               TransferResult written) {
    for (int queued = 0; ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0;) {
        if (MsUntil(deadline) == 0) {
            return Result(TransferOutcome::TimedOut);
        }
        poll(nullptr, 0, 1);
    }
    return written;
}

// Sleeps until input arrives or limitMs passes. A hung-up or failed device is ready at once
// with nothing to read; the limit is slept out then, so that a poller does not spin on it.
void AwaitInput(PortHandle& port, int limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    pollfd waitFor{port.Fd(), POLLIN, 0};
    if (poll(&waitFor, 1, limitMs) > 0 && (waitFor.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        port.hungUp = port.hungUp || MeansDeviceGone(waitFor);
        std::this_thread::sleep_until(deadline);
    }
}

// Who held the port that this thread's last open refused. The platform is one object for the
// whole process and ports may be opened on several threads at once (one per port), while a
// refusal is told by the same thread right after its open.
thread_local std::string t_refusalHolder;

class PosixSerialPlatform final : public SerialPlatform {
public:
    PortHandle OpenPort(const char* portName, std::uint32_t& error) override {
        t_refusalHolder.clear();
        const auto path = comports::DevicePathForPortName(portName);
        if (!path) {
            error = ErrorCodeFromErrno(ENOENT);
            return {};
        }
        // Looked at before the open: opening a terminal raises its modem lines under its user.
        auto claim = portlock::Claim(*path);
        if (claim.refusal) {
            return Refused(*claim.refusal, error);
        }
        PortHandle port(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        port.lock = std::move(claim.lock);
        if (!port.IsValid()) {
            error = LastError();
            return {};
        }
        // Before anything else, while the scanner may already be sending: a device echoes
        // with its default settings (see PortHandle). The checks below take their time.
        port.SilenceEcho();
        // A stale link may lead to somebody's terminal or to no device at all.
        if (const int refusal = portsafety::RefusalFor(port.Fd()); refusal != 0) {
            error = ErrorCodeFromErrno(refusal);
            return {};
        }
        // The advisory lock keeps out other programs even where TIOCEXCL does not (root).
        if (flock(port.Fd(), LOCK_EX | LOCK_NB) != 0) {
            error = LastError();
            return {};
        }
        if (isatty(port.Fd()) && !TakeExclusiveUse(port, error)) {
            return {};
        }
        // Whoever opened it between the first look and TIOCEXCL is found now.
        if (const auto holder = portlock::FindOtherHolder(*path)) {
            return Refused(*holder, error);
        }
        port.lowLatencySet = TurnOnLowLatency(port.Fd());
        port.lineErrors = ReadLineErrorCounts(port.Fd()).value_or(LineErrorCounts{});
        return port;
    }

    bool GetCommState(PortHandle& port, Dcb& dcb, std::uint32_t& error) override {
        termios current{};
        if (tcgetattr(port.Fd(), &current) != 0) {
            error = LastError();
            return false;
        }
        dcb = TermiosToDcb(current);
        return true;
    }

    bool SetCommState(PortHandle& port, const Dcb& dcb, std::uint32_t& error) override {
        termios base{};
        if (tcgetattr(port.Fd(), &base) != 0) {
            error = LastError();
            return false;
        }
        const auto settings = DcbToTermios(dcb, base);
        if (!settings) {
            error = ErrorCodeFromErrno(EINVAL);
            return false;
        }
        port.RememberSettings(base);
        port.configured = true;
        if (tcsetattr(port.Fd(), TCSANOW, &settings->attributes) != 0) {
            error = LastError();
            return false;
        }
        return VerifySpeed(port, settings->attributes, error) &&
               SetModemLines(port, *settings, error);
    }

    bool SetNoTimeouts(PortHandle& port, std::uint32_t& error) override {
        termios current{};
        if (tcgetattr(port.Fd(), &current) != 0) {
            error = LastError();
            return false;
        }
        // A read waits for at least one byte, with no inter-byte timer: only our poll limits it.
        port.RememberSettings(current);
        current.c_cc[VMIN] = 1;
        current.c_cc[VTIME] = 0;
        if (tcsetattr(port.Fd(), TCSANOW, &current) != 0) {
            error = LastError();
            return false;
        }
        return true;
    }

    CommStatus ClearCommError(PortHandle& port) override {
        CommStatus status;
        if (!port.IsValid()) {
            return status;
        }
        if (const auto counts = ReadLineErrorCounts(port.Fd())) {
            status.errors = ErrorMaskSince(port.lineErrors, *counts);
            port.lineErrors = *counts;
        }
        int waiting = 0;
        if (ioctl(port.Fd(), FIONREAD, &waiting) == 0) {
            status.inQueue = std::max(waiting, 0);
        } else {
            port.hungUp = port.hungUp || MeansDeviceGone(errno);
        }
        return status;
    }

    TransferResult Read(PortHandle& port, TransferRecord& record, void* buffer, int count,
                        int limitMs) override {
        auto* bytes = static_cast<unsigned char*>(buffer);
        return Transfer(port, record, count, limitMs, POLLIN,
                        [&](std::uint32_t done, std::uint32_t left) {
                            return ::read(port.Fd(), bytes + done, left);
                        });
    }

    TransferResult Write(PortHandle& port, TransferRecord& record, const void* buffer, int count,
                         int limitMs) override {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(limitMs, 0));
        const TransferResult result = Transfer(port, record, count, limitMs, POLLOUT,
                                               [&](std::uint32_t done, std::uint32_t left) {
                                                   return ::write(port.Fd(), bytes + done, left);
                                               });
        if (result.outcome != TransferOutcome::Completed) {
            return result;
        }
        return AwaitOutputSent(port.Fd(), deadline, result);
    }

    std::uint32_t GetTickCount() override { return PlatformTickCount(); }

    void Sleep(std::uint32_t ms) override { PlatformSleep(ms); }

    std::string OpenRefusalHolder() override { return t_refusalHolder; }

    void WaitForInput(PortHandle& port, int limitMs) override {
        AwaitInput(port, std::max(limitMs, 0));
    }

    bool HasHungUp(PortHandle& port) override { return port.hungUp; }

private:
    PortHandle Refused(const portlock::Refusal& refusal, std::uint32_t& error) {
        error = ErrorCodeFromErrno(refusal.error);
        t_refusalHolder = refusal.holder;
        return {};
    }

    // TIOCEXCL, unless another program set it already (only root gets this far then): its
    // flag must not be lifted when this port is released.
    static bool TakeExclusiveUse(PortHandle& port, std::uint32_t& error) {
        int alreadyExclusive = 0;
        if (ioctl(port.Fd(), TIOCGEXCL, &alreadyExclusive) == 0 && alreadyExclusive != 0) {
            error = ErrorCodeFromErrno(EBUSY);
            return false;
        }
        if (ioctl(port.Fd(), TIOCEXCL) != 0) {
            error = LastError();
            return false;
        }
        port.exclusive = true;
        return true;
    }

    // tcsetattr succeeds when any one change took; the speed is the one that matters most.
    static bool VerifySpeed(PortHandle& port, const termios& wanted, std::uint32_t& error) {
        termios now{};
        if (tcgetattr(port.Fd(), &now) != 0) {
            error = LastError();
            return false;
        }
        if (cfgetospeed(&now) != cfgetospeed(&wanted)) {
            error = ErrorCodeFromErrno(EINVAL);
            return false;
        }
        return true;
    }

    static bool SetModemLines(PortHandle& port, const TermiosSettings& settings,
                              std::uint32_t& error) {
        for (const auto& [request, lines] : {std::pair{TIOCMBIS, settings.modemLinesOn},
                                             std::pair{TIOCMBIC, settings.modemLinesOff}}) {
            if (lines != 0 && ioctl(port.Fd(), request, &lines) != 0 && !MeansNoModemLines(errno)) {
                error = LastError();
                return false;
            }
        }
        return true;
    }
};

}  // namespace

std::optional<speed_t> SpeedForBaudRate(std::uint32_t baudRate) {
    for (const auto& entry : kSpeeds) {
        if (entry.baudRate == baudRate) {
            return entry.speed;
        }
    }
    return std::nullopt;
}

std::optional<TermiosSettings> DcbToTermios(const Dcb& dcb, const termios& base) {
    const auto speed = SpeedForBaudRate(dcb.BaudRate);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (!speed || dcb.ByteSize < 5 || dcb.ByteSize > 8) {
        return std::nullopt;
    }
    TermiosSettings settings;
    termios& t = settings.attributes;
    t = base;
    cfsetispeed(&t, *speed);
    cfsetospeed(&t, *speed);

    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                           ICRNL | IUCLC | IXON | IXOFF | IXANY | IMAXBEL);
    t.c_iflag |= dcb.fParity ? INPCK : 0;
    t.c_iflag |= dcb.fOutX ? IXON : 0;
    t.c_iflag |= dcb.fInX ? IXOFF : 0;
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= kSizes[dcb.ByteSize - 5] | CREAD | CLOCAL | HUPCL;
    t.c_cflag |= dcb.Parity == EVENPARITY ? PARENB : dcb.Parity == ODDPARITY ? PARENB | PARODD : 0;
    t.c_cflag |= dcb.StopBits != ONESTOPBIT ? CSTOPB : 0;
    t.c_cflag |= dcb.fOutxCtsFlow ? CRTSCTS : 0;

    for (const int special : {VINTR, VQUIT, VERASE, VKILL, VEOF, VEOL, VEOL2, VSUSP, VLNEXT,
                              VWERASE, VREPRINT, VDISCARD}) {
        t.c_cc[special] = _POSIX_VDISABLE;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    (dcb.fDtrControl == DTR_CONTROL_ENABLE ? settings.modemLinesOn : settings.modemLinesOff) |=
        TIOCM_DTR;
    (dcb.fRtsControl == RTS_CONTROL_ENABLE ? settings.modemLinesOn : settings.modemLinesOff) |=
        TIOCM_RTS;
    return settings;
}

Dcb TermiosToDcb(const termios& t) {
    Dcb dcb;
    const speed_t speed = cfgetospeed(&t);
    for (const auto& entry : kSpeeds) {
        if (entry.speed == speed) {
            dcb.BaudRate = entry.baudRate;
        }
    }
    const tcflag_t size = t.c_cflag & CSIZE;
    dcb.ByteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    dcb.Parity = !(t.c_cflag & PARENB) ? NOPARITY : (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return dcb;
}

std::uint32_t ErrorCodeFromErrno(int errnoValue) {
    return static_cast<std::uint32_t>(errnoValue);
}

SerialPlatform& SystemSerialPlatform() {
    static PosixSerialPlatform platform;
    return platform;
}

std::uint32_t PlatformTickCount() {
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void PlatformSleep(std::uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
