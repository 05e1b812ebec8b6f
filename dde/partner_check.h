// Wine's DDE library never reports a partner that went away (no XTYP_DISCONNECT), so the window's
// link and the relay's source link look for themselves, and only under Wine let go of what the
// library still holds of such a conversation.
#pragma once

#include <windows.h>
#include <ddeml.h>

namespace dde {

struct PartnerCheck {
    bool known;  // the library still knows the conversation; info holds what it said
    bool alive;  // connected, and the partner's window is there
    CONVINFO info;
};

PartnerCheck CheckPartner(HCONV conv);

// Lets go of a conversation whose partner went away unreported. False when only ending the DDE
// instance releases it (it was ended by the partner but is still held); its window is then
// gone already, and the caller ends and makes its instance again.
bool ReleaseLostConversation(HCONV conv, const CONVINFO& info);

}  // namespace dde
