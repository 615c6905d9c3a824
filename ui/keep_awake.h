// Keeping the machine awake and up while the scanner's firmware is written: a suspend or a
// shutdown in the middle of the image leaves the scanner without application code. Every
// front end holds it around UPDATE; the exchanges themselves know nothing of it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "event_pump.h"

// The platform's means of holding off sleep, and shutdown where a program may.
class IKeepAwake {
public:
    virtual ~IKeepAwake() = default;
    // Starts holding the machine up; while it waits for the system's answer it lets pump run
    // (when given), so that the windows stay painted. Never throws of its own: a hold the
    // platform refuses or does not grant in time is reported by the implementation, and the
    // upload goes on without it. What pump throws (Ctrl+C in the console) goes through, with
    // nothing held.
    virtual void Begin(IEventPump* pump) = 0;
    // Gives the hold back, restoring the state from before Begin; nothing when none is held.
    virtual void End() = 0;
};

// Holds the machine up for as long as it lives, so that every way out of UPDATE gives it back;
// pump, when given, runs while the hold is being taken.
class KeepAwakeScope {
public:
    explicit KeepAwakeScope(IKeepAwake& keepAwake, IEventPump* pump = nullptr)
        : m_keepAwake(keepAwake) {
        m_keepAwake.Begin(pump);
    }
    ~KeepAwakeScope() { m_keepAwake.End(); }
    KeepAwakeScope(const KeepAwakeScope&) = delete;
    KeepAwakeScope& operator=(const KeepAwakeScope&) = delete;

private:
    IKeepAwake& m_keepAwake;
};

// Says, in one line, why the machine is not held up; the upload goes on without the hold.
using NoHoldReporter = std::function<void(const std::string& line)>;

// This platform's hold: SetThreadExecutionState on Windows, a logind inhibitor lock on Linux.
// A refused hold is told to report; without one, on standard error (Linux) or to the debugger
// (Windows). SetThreadExecutionState holds for the thread that called Begin: call Begin and
// End on one thread, which lives until End.
std::unique_ptr<IKeepAwake> CreateSystemKeepAwake(NoHoldReporter report = {});
