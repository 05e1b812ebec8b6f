#include "dde/azel_text.h"

#include <cstring>
#include <string_view>

#include "framework/decimal.h"

namespace dde {

bool CopyItemText(const void* data, size_t size, char (&text)[kItemCopySize]) {
    if (data == nullptr || size >= kMaxItemDataSize) return false;
    std::memcpy(text, data, size);
    // Data without a NUL of its own ends with the bytes copied.
    std::memset(text + size, 0, kItemCopySize - size);
    return true;
}

AzEl ParseAzEl(const char* text) {
    AzEl value{0, 0};
    const std::string_view view(text);
    value.azimuth = framework::ParseLeadingInteger(view);
    const size_t bar = view.find('|');
    if (bar != std::string_view::npos)
        value.elevation = framework::ParseLeadingInteger(view.substr(bar + 1));
    return value;
}

int32_t ParseDegrees(const char* text) {
    return framework::ParseLeadingInteger(text);
}

void CopySatelliteName(const char* text, char (&name)[kSatelliteNameSize]) {
    const void* nul = std::memchr(text, '\0', kSatelliteNameSize - 1);
    const size_t length = nul ? static_cast<const char*>(nul) - text : kSatelliteNameSize - 1;
    std::memcpy(name, text, length);
    name[length] = '\0';
}

}  // namespace dde
