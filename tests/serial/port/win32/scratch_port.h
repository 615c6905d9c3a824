// A port handle over real kernel objects for a scripted platform, and whether they are still
// held. Windows reuses a closed handle's value at once, so the objects are named and looked
// up by name: a named object exists only while some handle to it is open.
#pragma once

#include <string>

#include "serial_platform.h"

class ScratchPort {
public:
    // A handle that owns two fresh named events, standing for the port and its event.
    PortHandle Open() {
        static int s_count = 0;
        m_name = "tr_scratch_port_" + std::to_string(GetCurrentProcessId()) + "_" +
                 std::to_string(++s_count);
        return PortHandle(CreateEventA(nullptr, TRUE, FALSE, m_name.c_str()),
                          CreateEventA(nullptr, TRUE, FALSE, (m_name + "_event").c_str()));
    }
    // Whether the port or its event handed out last is still open.
    bool IsHeld() const { return !m_name.empty() && (Exists(m_name) || Exists(m_name + "_event")); }

private:
    static bool Exists(const std::string& name) {
        const HANDLE found = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
        if (found == nullptr) {
            return false;
        }
        CloseHandle(found);
        return true;
    }

    std::string m_name;
};
