#include "exchange_guard.h"

#include <atomic>

namespace exchange {

namespace {

std::atomic<bool> g_running{false};

}  // namespace

ExchangeGuard::ExchangeGuard() : m_claimed(!g_running.exchange(true)) {}

ExchangeGuard::~ExchangeGuard() {
    if (m_claimed) {
        g_running.store(false);
    }
}

bool ExchangeGuard::IsRunning() {
    return g_running.load();
}

}  // namespace exchange
