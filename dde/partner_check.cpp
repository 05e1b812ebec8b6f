#include "dde/partner_check.h"

#include <cstring>

namespace dde {

PartnerCheck CheckPartner(HCONV conv) {
    PartnerCheck check;
    std::memset(&check.info, 0, sizeof check.info);
    check.info.cb = sizeof check.info;
    check.known = DdeQueryConvInfo(conv, QID_SYNC, &check.info) != 0;
    check.alive =
        check.known && (check.info.wStatus & ST_CONNECTED) && IsWindow(check.info.hwndPartner);
    return check;
}

bool ReleaseLostConversation(HCONV conv, const CONVINFO& info) {
    if (info.wStatus & ST_CONNECTED) {
        // The partner's window is gone: the library's end message reaches nobody.
        DdeDisconnect(conv);
        return true;
    }
    // The conversation's window goes first, so that nothing of the old instance runs again.
    DestroyWindow(info.hwnd);
    return false;
}

}  // namespace dde
