// Leading decimal integer of a text, as the C library's atoi reads it, but without undefined
// behaviour: a value beyond the signed 32-bit range saturates at INT32_MIN / INT32_MAX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace framework {

// Skips leading white space (space, tab, LF, VT, FF, CR), takes one optional '+' or '-', then
// decimal digits up to the first other character. No digits gives 0. Reading stops at the end
// of the view or at a NUL, whichever comes first.
int32_t ParseLeadingInteger(std::string_view text);

}  // namespace framework
