#include "app/port_number.h"

#include "framework/decimal.h"

namespace app {

int32_t PortFromArgument(std::string_view argument) {
    const int32_t port = framework::ParseLeadingInteger(argument);
    return port < kDefaultComPort ? kDefaultComPort : port;
}

}  // namespace app
