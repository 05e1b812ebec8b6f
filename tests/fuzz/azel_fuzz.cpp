// Arbitrary bytes of arbitrary size as the data of every item: the copy must refuse
// oversized data, never read past the bytes given, and never write past the name field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dde/azel_text.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy, so the sanitizer sees any read beyond the data.
    std::vector<uint8_t> bytes(data, data + size);
    char text[dde::kItemCopySize];
    const bool used = dde::CopyItemText(size ? bytes.data() : nullptr, size, text);
    Check(used == (size > 0 && size < dde::kMaxItemDataSize));
    if (!used) return 0;

    const size_t length = strlen(text);
    Check(length <= size);
    Check(memcmp(text, bytes.data(), length) == 0);

    const dde::AzEl value = dde::ParseAzEl(text);
    if (memchr(text, '|', length) == nullptr) Check(value.elevation == 0);
    // A degrees item is read as the number at the start of an "AzEl" text.
    Check(dde::ParseDegrees(text) == value.azimuth);

    struct {
        char field[dde::kSatelliteNameSize];
        char guard[4];
    } name;
    memset(name.guard, '#', sizeof name.guard);
    dde::CopySatelliteName(text, name.field);
    Check(memcmp(name.guard, "####", 4) == 0);
    Check(strlen(name.field) == (length < 31 ? length : 31));
    Check(memcmp(name.field, text, strlen(name.field)) == 0);
    return 0;
}
