// The platform calls behind CSerial, gathered behind one interface so that the port logic
// stays the same on every platform and tests can stand in for the operating system.
#pragma once

#include <cstdint>

// The line-settings record CSerial fills in and hands to the platform, field for field the
// device control block of the Windows serial services, so that every platform sees the same.
struct Dcb {
    std::uint32_t BaudRate = 0;
    unsigned fBinary = 0;
    unsigned fParity = 0;
    unsigned fOutxCtsFlow = 0;
    unsigned fOutxDsrFlow = 0;
    unsigned fDtrControl = 0;  // DTR_CONTROL_DISABLE or DTR_CONTROL_ENABLE
    unsigned fDsrSensitivity = 0;
    unsigned fTXContinueOnXoff = 0;
    unsigned fOutX = 0;
    unsigned fInX = 0;
    unsigned fErrorChar = 0;
    unsigned fNull = 0;
    unsigned fRtsControl = 0;  // RTS_CONTROL_DISABLE or RTS_CONTROL_ENABLE
    unsigned fAbortOnError = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;    // NOPARITY, ODDPARITY or EVENPARITY
    std::uint8_t StopBits = 0;  // ONESTOPBIT or TWOSTOPBITS
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

// The published constants of the fields above.
inline constexpr unsigned DTR_CONTROL_DISABLE = 0;
inline constexpr unsigned DTR_CONTROL_ENABLE = 1;
inline constexpr unsigned RTS_CONTROL_DISABLE = 0;
inline constexpr unsigned RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

// Line-error bits as the error mask reports them.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;    // the input queue overflowed
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;   // the receiver lost a character
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;  // parity error
inline constexpr std::uint32_t CE_FRAME = 0x0008;     // framing error
inline constexpr std::uint32_t CE_BREAK = 0x0010;     // break condition

#ifndef _WIN32
// Driver error counters of a POSIX serial device, remembered so that each status query
// reports only the errors that arose since the one before, as a clearing query does.
struct LineErrorCounts {
    int overrun = 0;
    int parity = 0;
    int frame = 0;
    int brk = 0;
    int bufferOverrun = 0;
};

// Move-only owner of an open port's file descriptor; closing it releases the port.
class PortHandle {
public:
    PortHandle() = default;
    explicit PortHandle(int fd) : m_fd(fd) {}
    ~PortHandle() { Reset(); }
    PortHandle(PortHandle&& other) noexcept
        : lineErrors(other.lineErrors), exclusive(other.exclusive), m_fd(other.Release()) {}
    PortHandle& operator=(PortHandle&& other) noexcept;
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;

    // Whether a descriptor is held (the invalid-handle value is -1).
    bool IsValid() const { return m_fd >= 0; }
    // The descriptor, -1 when none is held.
    int Fd() const { return m_fd; }
    // Gives up ownership without closing; returns the descriptor.
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Releases the port (lifting its exclusive use) and closes the descriptor.
    void Reset();

    LineErrorCounts lineErrors;  // the counters at the last status query
    bool exclusive = false;      // TIOCEXCL was set on the terminal through this descriptor

private:
    int m_fd = -1;
};

// The POSIX counterpart of the overlapped record: the one transfer under way on the port.
struct TransferRecord {
    std::uint32_t status = 0;     // error code of the transfer's last step, 0 while none failed
    std::uint32_t requested = 0;  // bytes the transfer was asked to move
    std::uint32_t done = 0;       // bytes moved so far
};
#endif

// What a read or write ended with, in the terms of a started and awaited transfer.
enum class TransferOutcome {
    Completed,     // the whole count was transferred within the limit
    StartFailed,   // the transfer could not be started
    TimedOut,      // the limit ran out before the transfer completed
    ResultFailed,  // the wait ended but the transfer yields no result
    WaitFailed,    // the wait itself failed for another reason
};

// The outcome of one read or write, the count the platform reports and its error code.
struct TransferResult {
    TransferOutcome outcome = TransferOutcome::WaitFailed;
    int count = 0;
    std::uint32_t error = 0;
};

// The port status: line errors since the last query, and received bytes waiting.
struct CommStatus {
    std::uint32_t errors = 0;
    int inQueue = 0;
};

// The operating system's serial and time services, as CSerial uses them.
class SerialPlatform {
public:
    virtual ~SerialPlatform() = default;
    // Opens the named port for exclusive reading and writing; an invalid handle and the error
    // code when it cannot be opened.
    virtual PortHandle OpenPort(const char* portName, std::uint32_t& error) = 0;
    // Reads the port's current line settings.
    virtual bool GetCommState(PortHandle& port, Dcb& dcb, std::uint32_t& error) = 0;
    // Applies the line settings.
    virtual bool SetCommState(PortHandle& port, const Dcb& dcb, std::uint32_t& error) = 0;
    // Gives the driver no time-outs: a transfer completes only when its whole count has moved.
    virtual bool SetNoTimeouts(PortHandle& port, std::uint32_t& error) = 0;
    // Reports and clears the line errors, and counts the received bytes waiting (0 on failure).
    virtual CommStatus ClearCommError(PortHandle& port) = 0;
    // Reads count bytes into buffer within limitMs through the transfer record.
    virtual TransferResult Read(PortHandle& port, TransferRecord& record, void* buffer, int count,
                                int limitMs) = 0;
    // Writes count bytes from buffer within limitMs through the transfer record.
    virtual TransferResult Write(PortHandle& port, TransferRecord& record, const void* buffer,
                                 int count, int limitMs) = 0;
    // The free-running 32-bit millisecond counter.
    virtual std::uint32_t GetTickCount() = 0;
    // Pauses ms milliseconds; 0 yields the processor.
    virtual void Sleep(std::uint32_t ms) = 0;
};

// The platform this program runs on.
SerialPlatform& SystemSerialPlatform();

// The monotonic millisecond clock cut to 32 bits; it wraps about every 49.7 days.
std::uint32_t PlatformTickCount();

// Pauses ms milliseconds; 0 yields the processor.
void PlatformSleep(std::uint32_t ms);
