#include "exchange_guard.h"

namespace exchange {

namespace {

// Whether the thread runs an exchange; only its own thread reads or writes it.
thread_local bool t_running = false;

}  // namespace

ExchangeGuard::ExchangeGuard() : m_claimed(!t_running) {
    t_running = true;
}

ExchangeGuard::~ExchangeGuard() {
    if (m_claimed) {
        t_running = false;
    }
}

bool ExchangeGuard::IsRunning() {
    return t_running;
}

}  // namespace exchange
