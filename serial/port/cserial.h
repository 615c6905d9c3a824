// CSerial: one open COM port with fixed line settings, reads and writes with time limits.
#pragma once

#include <cstdint>
#include <optional>

#include "serial_platform.h"

// One open COM port. The constructor opens and configures it or throws the integer 1; every
// other failure is logged and reported by the result (false or a count of 0).
class CSerial {
public:
    // Opens portName with the line settings; throws the integer 1 when that fails.
    CSerial(const char* portName, int baudRate, char parity, int dataBits, int stopBits, bool dtr,
            bool rts, SerialPlatform& platform = SystemSerialPlatform());
    // Closes the port.
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Opens the port and applies the settings; true when it is open and configured.
    bool Open(const char* portName, int baudRate, char parity, int dataBits, int stopBits, bool dtr,
              bool rts);
    // Applies the line settings and clears the driver's time-outs; true when both are accepted.
    bool SetParams(int baudRate, char parity, int dataBits, int stopBits, bool dtr, bool rts);
    // Releases the port; true when something was open.
    bool Close();
    // Received bytes waiting in the input queue; 0 when the port cannot say.
    int BytesWaiting();
    // Reads exactly count bytes within limitMs; returns count, or 0 on failure or time-out.
    int Read(void* buffer, int count, int limitMs);
    // Writes count bytes within limitMs, then pauses for their time on the line; returns
    // count, or 0 on failure.
    int Write(const void* buffer, int count, int limitMs);
    // Reads and discards input until none is waiting, or until a read brings nothing.
    void DrainInput();
    // Waits up to limitMs for input, returning as soon as some is waiting; at once when the
    // port is not open or the platform cannot wait.
    void WaitForInput(int limitMs);
    // Whether the port has met a hang-up or the removal of its device (logged once).
    bool HasGoneAway();

private:
    // The count a read yields, its failure logged.
    int ReadOutcome(const TransferResult& result);
    // Whether a write failed, its failure logged; a failed wait is no failure here.
    bool WriteFailed(const TransferResult& result);
    // Notes, and logs once, a hang-up the platform met in the call just made.
    void NoteIfGoneAway();

    bool m_bOpen = false;
    bool m_bGoneAway = false;
    double m_dMsPerByte = 1.0;
    PortHandle m_hPort;
    TransferRecord m_overlapped;
    SerialPlatform& m_platform;
};

// The changes SetParams makes to the current line settings, every other field kept.
Dcb ApplyLineSettings(const Dcb& current, int baudRate, char parity, int dataBits, int stopBits,
                      bool dtr, bool rts);

// Milliseconds one character takes on the line: start bit, data bits, a parity bit unless the
// parity is 'N', and the stop bits as given.
double CharacterMs(int baudRate, char parity, int dataBits, int stopBits);

// The pause after a write of count bytes that began at tick start and returned at tick now,
// so that the call covers the bytes' time on the line; none when the counter has not moved,
// the write took longer, or the bytes take less than a millisecond.
std::optional<std::uint32_t> PacingPause(std::uint32_t start, std::uint32_t now, int count,
                                         double msPerByte);
