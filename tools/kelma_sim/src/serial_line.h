// The controller's end of the cable: a pty master on Linux, a COM port on Windows.
#pragma once

#include <string_view>

namespace kelma {

class SerialLine {
public:
    virtual ~SerialLine() = default;
    // Sends the bytes to the program in one write.
    virtual void Write(std::string_view bytes) = 0;
    // Drops every byte still on its way in either direction.
    virtual void Purge() = 0;
};

}  // namespace kelma
