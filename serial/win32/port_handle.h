// The open port as Windows holds it: the port's handle with the completion event of its
// transfers, and the overlapped record the transfers go through.
#pragma once

#include "win_constants.h"  // <windows.h>

// Move-only owner of an open port and its completion event; both are released together.
// The event lives here rather than only in the overlapped record, because CSerial zeroes
// that record when it opens the port and before every transfer.
class PortHandle {
public:
    PortHandle() = default;
    PortHandle(HANDLE port, HANDLE event) : m_port(port), m_event(event) {}
    ~PortHandle() { Reset(); }
    PortHandle(PortHandle&& other) noexcept
        : state(other.state), m_port(other.m_port), m_event(other.m_event) {
        other.Forget();
    }
    PortHandle& operator=(PortHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            state = other.state;
            m_port = other.m_port;
            m_event = other.m_event;
            other.Forget();
        }
        return *this;
    }
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;

    // Whether a port is held (neither 0 nor the invalid-handle value).
    bool IsValid() const { return m_port != nullptr && m_port != INVALID_HANDLE_VALUE; }
    // The port's handle, the invalid-handle value when none is held.
    HANDLE Port() const { return m_port; }
    // The completion event of the port's transfers (manual reset), 0 when none is held.
    HANDLE Event() const { return m_event; }
    // Releases the completion event, then the port.
    void Reset() {
        if (m_event != nullptr) {
            CloseHandle(m_event);
        }
        if (IsValid()) {
            CloseHandle(m_port);
        }
        Forget();
    }

    // The line settings as the port last reported them, so that the fields CSerial does not
    // set go back to the port as they came.
    DCB state{};

private:
    void Forget() {
        m_port = INVALID_HANDLE_VALUE;
        m_event = nullptr;
    }

    HANDLE m_port = INVALID_HANDLE_VALUE;
    HANDLE m_event = nullptr;
};

// The record every read and write of the port is started and awaited through.
using TransferRecord = OVERLAPPED;
