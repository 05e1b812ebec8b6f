// The text rules of the tracking link's data items, kept free of the Windows API so that
// they can be unit-tested and fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dde/winorbit.h"

namespace dde {

// Data of this many bytes or more is refused outright.
constexpr size_t kMaxItemDataSize = 250;
// The local copy the data is read from: room for the largest accepted data plus terminators.
constexpr size_t kItemCopySize = 252;

// Copies item data into a local text buffer. Returns false, leaving the buffer alone, when there
// is no data or it is kMaxItemDataSize bytes or more. Otherwise the copy ends at the first NUL
// within the bytes, or right after the bytes copied when they hold none.
bool CopyItemText(const void* data, size_t size, char (&text)[kItemCopySize]);

struct AzEl {
    int32_t azimuth;
    int32_t elevation;
};

// "AzEl" text: the azimuth at the start, and the elevation right after the first '|' (0 when
// there is none). Each number is a leading decimal integer; a fractional part is dropped.
AzEl ParseAzEl(const char* text);

// "AzimuthDegrees" or "ElevationDegrees" text, the position items of a server without "AzEl":
// one angle in whole degrees, read as each number of the "AzEl" text is.
int32_t ParseDegrees(const char* text);

// Copies a satellite name into the name field; a longer name keeps its first 31 characters.
void CopySatelliteName(const char* text, char (&name)[kSatelliteNameSize]);

}  // namespace dde
