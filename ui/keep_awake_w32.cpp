// Keeping the machine up on Windows: SetThreadExecutionState, which stops the idle timer from
// suspending the machine for as long as the thread holds ES_SYSTEM_REQUIRED continuously.
#include <windows.h>

#include "keep_awake.h"

namespace {

class ExecutionStateKeepAwake final : public IKeepAwake {
public:
    explicit ExecutionStateKeepAwake(NoHoldReporter report) : m_report(std::move(report)) {}

    // Windows answers at once: there is nothing to pump for.
    void Begin(IEventPump* /*pump*/) override {
        if (m_held) {
            return;
        }
        const EXECUTION_STATE previous =
            SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        if (previous == 0) {
            // Refused: the upload goes on, and the machine may sleep as before.
            m_report(
                "TR-520/521 CPU Update Utility: sleep is not held off during the upload "
                "(SetThreadExecutionState(ES_SYSTEM_REQUIRED) failed)");
            return;
        }
        m_previous = previous;
        m_held = true;
    }

    void End() override {
        if (!m_held) {
            return;
        }
        m_held = false;
        SetThreadExecutionState(RestoringState(m_previous));
    }

private:
    // A previous state without ES_CONTINUOUS held nothing lasting: clearing is restoring.
    static EXECUTION_STATE RestoringState(EXECUTION_STATE previous) {
        return (previous & ES_CONTINUOUS) != 0 ? previous : ES_CONTINUOUS;
    }

    NoHoldReporter m_report;
    bool m_held = false;
    EXECUTION_STATE m_previous = ES_CONTINUOUS;
};

}  // namespace

std::unique_ptr<IKeepAwake> CreateSystemKeepAwake(NoHoldReporter report) {
    if (!report) {
        report = [](const std::string& line) { OutputDebugStringA((line + "\n").c_str()); };
    }
    return std::make_unique<ExecutionStateKeepAwake>(std::move(report));
}
