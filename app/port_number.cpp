#include "app/port_number.h"

#include "framework/decimal.h"

namespace kelma {

int32_t PortFromArgument(std::string_view argument) {
    const int32_t port = ParseLeadingInteger(argument);
    return port < kDefaultComPort ? kDefaultComPort : port;
}

}  // namespace kelma
