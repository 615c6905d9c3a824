// One exchange at a time on a thread. TEST and UPDATE run on the dialog's one thread inside a
// click, while the front end keeps its windows painted; any event that still reaches a handler
// then (an accessibility press, a queued command) must not start a second exchange on top of
// the first. The claim is per thread: a dialog runs every exchange on its own thread, so it
// keeps exactly one, while the console program may run one exchange per port, each on a thread
// of its own.
#pragma once

namespace exchange {

// Claims the calling thread's one exchange for as long as it lives, unless another already holds
// it. RunVersionCheck and RunFirmwareUpload take one first and return at once, changing nothing,
// when it is not claimed; a front end needs nothing more. One that sets up surroundings of its
// own around an exchange may ask IsRunning() first and leave them out.
class ExchangeGuard {
public:
    ExchangeGuard();
    ~ExchangeGuard();
    ExchangeGuard(const ExchangeGuard&) = delete;
    ExchangeGuard& operator=(const ExchangeGuard&) = delete;

    // Whether this guard holds the exchange (false: another was running when it was made).
    bool Claimed() const { return m_claimed; }
    // Whether an exchange is running now on the calling thread.
    static bool IsRunning();

private:
    bool m_claimed;
};

}  // namespace exchange
