// Windows names no owner, group or holder of a COM port that the utility could show.
#include "port_access.h"

namespace portaccess {

std::string PermissionAdvice(const std::string& /*devicePath*/) {
    return {};
}

std::string WhyNotOpened(const std::string& /*portName*/) {
    return {};
}

}  // namespace portaccess
