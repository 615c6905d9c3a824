// The platform-independent part of CSerial; the platform calls are in the backend file.
#include "cserial.h"

#include <algorithm>
#include <string>

#include "diag_log.h"
#include "printable_text.h"

CSerial::CSerial(const char* portName, int baudRate, char parity, int dataBits, int stopBits,
                 bool dtr, bool rts, SerialPlatform& platform)
    : m_platform(platform) {
    m_bOpen = false;
    if (!Open(portName, baudRate, parity, dataBits, stopBits, dtr, rts)) {
        Close();
        throw 1;
    }
}

CSerial::~CSerial() {
    Close();
}

bool CSerial::Open(const char* portName, int baudRate, char parity, int dataBits, int stopBits,
                   bool dtr, bool rts) {
    std::uint32_t error = 0;
    m_hPort = m_platform.OpenPort(portName, error);
    if (!m_hPort.IsValid()) {
        // The holder, when known, goes with the port name; the line keeps its words. A device
        // path and a lock file's path are whatever names the system gave.
        const std::string holder = m_platform.OpenRefusalHolder();
        const std::string shown =
            PrintableText(holder.empty() ? portName : portName + (" [" + holder + "]"));
        LogMessage("CSerial::Open - CreateFile(%s) failed, GetLastError()==0x%08X", shown.c_str(),
                   error);
        return false;
    }
    m_overlapped = TransferRecord{};
    m_bOpen = true;
    return SetParams(baudRate, parity, dataBits, stopBits, dtr, rts);
}

bool CSerial::SetParams(int baudRate, char parity, int dataBits, int stopBits, bool dtr, bool rts) {
    if (!m_bOpen) {
        return false;
    }
    m_dMsPerByte = 1.0;
    if (!m_hPort.IsValid()) {
        return false;
    }
    std::uint32_t error = 0;
    Dcb dcb;
    if (!m_platform.GetCommState(m_hPort, dcb, error)) {
        LogMessage("CSerial::SetParams - GetCommState() failed, GetLastError()==0x%08X", error);
        return false;
    }
    dcb = ApplyLineSettings(dcb, baudRate, parity, dataBits, stopBits, dtr, rts);
    if (!m_platform.SetCommState(m_hPort, dcb, error)) {
        LogMessage("CSerial::SetParams - SetCommState() failed, GetLastError()==0x%08X", error);
        return false;
    }
    m_dMsPerByte = CharacterMs(baudRate, parity, dataBits, stopBits);
    if (!m_platform.SetNoTimeouts(m_hPort, error)) {
        LogMessage("CSerial::SetParams - SetCommTimeouts() failed, GetLastError()==0x%08X", error);
        return false;
    }
    return true;
}

bool CSerial::Close() {
    if (!m_bOpen) {
        return false;
    }
    m_hPort.Reset();
    m_bOpen = false;
    return true;
}

int CSerial::BytesWaiting() {
    // Also asked of a closed port: the platform then reports nothing waiting.
    const int waiting = m_platform.ClearCommError(m_hPort).inQueue;
    NoteIfGoneAway();
    return waiting;
}

int CSerial::Read(void* buffer, int count, int limitMs) {
    if (!m_bOpen) {
        return 0;
    }
    if (buffer == nullptr || count < 0) {
        return 0;
    }
    m_overlapped = TransferRecord{};
    const CommStatus status = m_platform.ClearCommError(m_hPort);
    if (status.errors != 0) {
        LogMessage("CSerial::Read - ClearCommError returns 0x%08X", status.errors);
    }
    const TransferResult result = m_platform.Read(m_hPort, m_overlapped, buffer, count, limitMs);
    const int read = ReadOutcome(result);
    NoteIfGoneAway();  // after the read's own line
    return read;
}

int CSerial::ReadOutcome(const TransferResult& result) {
    switch (result.outcome) {
        case TransferOutcome::Completed:
            return result.count;
        case TransferOutcome::StartFailed:
            LogMessage("CSerial::Read - ReadFile() failed, GetLastError()==0x%08X", result.error);
            return 0;
        case TransferOutcome::TimedOut:
            LogMessage("CSerial::Read - WaitForSingleObject() timed out");
            return 0;
        case TransferOutcome::ResultFailed:
            LogMessage("CSerial::Read - GetOverlappedResult() failed, GetLastError()==0x%08X",
                       result.error);
            return result.count;
        case TransferOutcome::WaitFailed:
            return 0;
    }
    return 0;
}

int CSerial::Write(const void* buffer, int count, int limitMs) {
    if (!m_bOpen) {
        return 0;
    }
    if (buffer == nullptr || count < 0) {
        return 0;
    }
    const std::uint32_t start = m_platform.GetTickCount();
    m_overlapped = TransferRecord{};
    m_platform.ClearCommError(m_hPort);
    const TransferResult result = m_platform.Write(m_hPort, m_overlapped, buffer, count, limitMs);
    const bool failed = WriteFailed(result);
    NoteIfGoneAway();  // after the write's own line
    if (failed) {
        return 0;
    }
    const int written = result.outcome == TransferOutcome::Completed ? result.count : 0;
    if (const auto pause = PacingPause(start, m_platform.GetTickCount(), count, m_dMsPerByte)) {
        m_platform.Sleep(*pause);
    }
    return written;
}

bool CSerial::WriteFailed(const TransferResult& result) {
    switch (result.outcome) {
        case TransferOutcome::Completed:
        case TransferOutcome::WaitFailed:
            return false;
        case TransferOutcome::StartFailed:
            LogMessage("CSerial::Write - WriteFile() failed, GetLastError()==0x%08X", result.error);
            return true;
        case TransferOutcome::TimedOut:
            LogMessage("CSerial::Write (writing data) - WaitForSingleObject() timed out");
            return true;
        case TransferOutcome::ResultFailed:
            LogMessage(
                "CSerial::Write (writing data) - GetOverlappedResult() failed, "
                "GetLastError()==0x%08X",
                result.error);
            return true;
    }
    return false;
}

void CSerial::DrainInput() {
    unsigned char scratch[100];
    for (int waiting = BytesWaiting(); waiting != 0; waiting = BytesWaiting()) {
        // A device going away can keep reporting input that no read delivers.
        if (Read(scratch, std::min(waiting, 100), 1000) == 0) {
            return;
        }
    }
}

void CSerial::WaitForInput(int limitMs) {
    if (m_bOpen) {
        m_platform.WaitForInput(m_hPort, limitMs);
        NoteIfGoneAway();
    }
}

bool CSerial::HasGoneAway() {
    NoteIfGoneAway();
    return m_bGoneAway;
}

void CSerial::NoteIfGoneAway() {
    if (m_bOpen && !m_bGoneAway && m_platform.HasHungUp(m_hPort)) {
        m_bGoneAway = true;
        LogMessage("CSerial - the port went away: the device was removed or its cable pulled");
    }
}

Dcb ApplyLineSettings(const Dcb& current, int baudRate, char parity, int dataBits, int stopBits,
                      bool dtr, bool rts) {
    Dcb dcb = current;
    dcb.BaudRate = static_cast<std::uint32_t>(baudRate);
    dcb.fBinary = 1;
    dcb.fParity = parity != 'N' ? 1 : 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    dcb.wReserved = 0;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.ByteSize = static_cast<std::uint8_t>(dataBits);
    dcb.Parity = parity == 'E' ? EVENPARITY : parity == 'O' ? ODDPARITY : NOPARITY;
    dcb.StopBits = stopBits == 1 ? ONESTOPBIT : TWOSTOPBITS;
    dcb.XonChar = 0x00;
    dcb.XoffChar = 0x01;
    dcb.ErrorChar = 0x00;
    dcb.EofChar = 0x00;
    dcb.EvtChar = 0x00;
    return dcb;
}

double CharacterMs(int baudRate, char parity, int dataBits, int stopBits) {
    const int bits = dataBits + stopBits + 1 + (parity != 'N' ? 1 : 0);
    return 1000.0 / (static_cast<double>(baudRate) / static_cast<double>(bits));
}

std::optional<std::uint32_t> PacingPause(std::uint32_t start, std::uint32_t now, int count,
                                         double msPerByte) {
    const std::uint32_t elapsed = now - start;
    const double budgetMs = static_cast<double>(count) * msPerByte;
    // A budget beyond the counter's range cannot be slept for meaningfully; no pause.
    if (!(budgetMs >= 0.0 && budgetMs < 4294967296.0)) {
        return std::nullopt;
    }
    const auto budget = static_cast<std::uint32_t>(budgetMs);
    const std::uint32_t remaining = budget - elapsed;
    if (remaining < budget) {
        return remaining;
    }
    return std::nullopt;
}
