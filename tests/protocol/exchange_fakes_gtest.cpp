// The fakes' runaway report for the unit tests: a failure of the running test, which then
// continues with the exception the clock throws.
#include <gtest/gtest.h>

#include "exchange_fakes.h"

namespace fakes {

void ReportRunaway(std::uint64_t limitMs) {
    ADD_FAILURE() << "virtual time passed " << limitMs << " ms: a wait does not end";
}

}  // namespace fakes
