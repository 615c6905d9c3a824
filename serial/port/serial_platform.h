// The platform calls behind CSerial, gathered behind one interface so that the port logic
// stays the same on every platform and tests can stand in for the operating system.
#pragma once

#include <cstdint>
#include <string>

#include "port_handle.h"  // this platform's port handle and transfer record
#include "win_constants.h"

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
    // Who holds the port the last OpenPort refused, in words for the log line ("held by PID
    // 42"); empty when the platform cannot say or the open failed for another reason.
    virtual std::string OpenRefusalHolder() { return {}; }
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
    // Waits up to limitMs for received input, returning as soon as some is waiting, so that
    // a caller that polls the port can let the processor sleep. Without such a wait the
    // platform returns at once and the caller polls as before.
    virtual void WaitForInput(PortHandle& /*port*/, int /*limitMs*/) {}
    // Whether an operation on the port has met a hang-up or the removal of its device, after
    // which nothing more comes; false where the platform cannot tell.
    virtual bool HasHungUp(PortHandle& /*port*/) { return false; }
};

// The platform this program runs on.
SerialPlatform& SystemSerialPlatform();

// The monotonic millisecond clock cut to 32 bits; it wraps about every 49.7 days.
std::uint32_t PlatformTickCount();

// Pauses ms milliseconds; 0 yields the processor.
void PlatformSleep(std::uint32_t ms);
