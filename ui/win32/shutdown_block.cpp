#include "shutdown_block.h"

namespace {

std::optional<ShutdownBlockApi>& Override() {
    static std::optional<ShutdownBlockApi> api;
    return api;
}

// Looked up once: user32 is loaded for as long as the program runs.
ShutdownBlockApi User32Api() {
    static const ShutdownBlockApi api = [] {
        ShutdownBlockApi found;
        if (HMODULE user32 = GetModuleHandleA("user32.dll")) {
            found.create = reinterpret_cast<decltype(found.create)>(
                reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonCreate")));
            found.destroy = reinterpret_cast<decltype(found.destroy)>(
                reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonDestroy")));
        }
        return found;
    }();
    return api;
}

}  // namespace

ShutdownBlockApi CurrentShutdownBlockApi() {
    return Override().value_or(User32Api());
}

void SetShutdownBlockApi(std::optional<ShutdownBlockApi> api) {
    Override() = api;
}

ShutdownBlockReason::ShutdownBlockReason(HWND window, LPCWSTR reason)
    : m_window(window), m_api(CurrentShutdownBlockApi()) {
    if (m_window != nullptr && m_api.create != nullptr && m_api.destroy != nullptr) {
        m_given = m_api.create(m_window, reason) != FALSE;
    }
}

ShutdownBlockReason::~ShutdownBlockReason() {
    if (m_given) {
        m_api.destroy(m_window);
    }
}
