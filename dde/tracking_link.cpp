#include "dde/tracking_link.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "dde/azel_text.h"
#include "dde/partner_check.h"
#include "framework/wine_host.h"
#include "rotator/tracking_rule.h"

namespace dde {

namespace {

constexpr DWORD kTransactionTimeoutMs = 1000;
// The window property through which the DDE callback, which DDEML gives no context, finds the
// link: on the window it notifies, of the thread its DDE instance runs on.
constexpr char kLinkProperty[] = "KelmaTrackingLink";

BOOL CALLBACK FindLink(HWND window, LPARAM found) {
    void* link = GetPropA(window, kLinkProperty);
    if (link == nullptr) return TRUE;
    *reinterpret_cast<CTrackingLink**>(found) = static_cast<CTrackingLink*>(link);
    return FALSE;
}

// DDEML calls the callback on the thread that made the instance, while it dispatches messages.
CTrackingLink* LinkOfThisThread() {
    CTrackingLink* link = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindLink, reinterpret_cast<LPARAM>(&link));
    return link;
}

// Sets a name field to "none".
void SetNoSatellite(char (&name)[dde::kSatelliteNameSize]) {
    static_assert(sizeof(dde::kNoSatelliteName) <= dde::kSatelliteNameSize, "fits the field");
    std::memcpy(name, dde::kNoSatelliteName, sizeof dde::kNoSatelliteName);
}

}  // namespace

CTrackingLink::CTrackingLink() : CTrackingLink(framework::RunningOnWine()) {}

CTrackingLink::CTrackingLink(bool silentLibrary) : m_bSilentLibrary(silentLibrary) {
    m_idInst = 0;
    // Failure leaves m_idInst at 0: every later DDE call fails and the link never connects.
    DdeInitializeA(&m_idInst, DdeCallback, APPCMD_CLIENTONLY, 0);
    m_nElevation = rotator::kNoAngleYet;
    m_nAzimuth = rotator::kNoAngleYet;
    m_hszService = nullptr;
    m_hszAzEl = nullptr;
    m_hszSatName = nullptr;
    SetNoSatellite(m_szSatellite);
    m_hConv = nullptr;
    m_hNotifyWnd = nullptr;
}

CTrackingLink::~CTrackingLink() {
    Disconnect(0);
    // The DDE instance outlives the link: its events must not reach a link that is gone.
    if (m_hNotifyWnd != nullptr && GetPropA(m_hNotifyWnd, kLinkProperty) == this)
        RemovePropA(m_hNotifyWnd, kLinkProperty);
}

void CTrackingLink::Notify() {
    SendMessageA(m_hNotifyWnd, WM_COMMAND, MAKEWPARAM(ID_TRACKING_UPDATE, 0), 0);
}

int CTrackingLink::Connect() {
    if (m_bInConnect) return 0;
    if (m_hNotifyWnd != nullptr) SetPropA(m_hNotifyWnd, kLinkProperty, this);
    m_bInConnect = true;
    const int result = ConnectOnce();
    m_bInConnect = false;
    if (m_bEndedDuringConnect) {
        m_bEndedDuringConnect = false;
        Disconnect(1);
    }
    return result;
}

int CTrackingLink::ConnectOnce() {
    if (m_hszService == nullptr)
        m_hszService = DdeCreateStringHandleA(m_idInst, dde::kWinOrbitService, CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(m_idInst, dde::kWinOrbitTopic, CP_WINANSI);
    const HCONV held = m_hConv;
    m_hConv = DdeConnect(m_idInst, m_hszService, topic, nullptr);
    DdeFreeStringHandle(m_idInst, topic);
    if (m_hConv == nullptr) {
        // A second conversation was refused (Wine's library allows one per service and topic):
        // the link stays on the one it holds rather than lose track of it.
        m_hConv = held;
        return 0;
    }
    // Handle values are reused: an earlier lost conversation may have had this one's.
    m_hConvLost = nullptr;

    RenewItemNames();
    RequestItem(m_hszAzEl);
    RequestItem(m_hszSatName);
    // Only the server's own refusal counts: an advise start that timed out or found the
    // conversation gone would fail again for the other items, each after its own wait.
    const bool azElRefused = StartAdvise(m_hszAzEl) == DMLERR_NOTPROCESSED;
    StartAdvise(m_hszSatName);
    // A server with "AzEl" sees exactly the transactions above; one without it gets the same
    // again for the items its own documentation names.
    if (azElRefused && !m_bEndedDuringConnect) FollowDegreeItems();
    return 0;
}

// Handles an earlier Connect left are released once the new ones exist, so that their values
// stay the same and nothing leaks.
void CTrackingLink::RenewItemNames() {
    const std::pair<HSZ*, const char*> items[] = {
        {&m_hszAzEl, dde::kAzElItem},
        {&m_hszSatName, dde::kSatelliteNameItem},
        {&m_hszAzimuthDegrees, dde::kAzimuthDegreesItem},
        {&m_hszElevationDegrees, dde::kElevationDegreesItem}};
    for (const auto& [field, name] : items) {
        const HSZ old = *field;
        *field = DdeCreateStringHandleA(m_idInst, name, CP_WINANSI);
        DdeFreeStringHandle(m_idInst, old);
    }
}

UINT CTrackingLink::StartAdvise(HSZ item) {
    const HDDEDATA started = DdeClientTransaction(nullptr, 0, m_hConv, item, CF_TEXT, XTYP_ADVSTART,
                                                  kTransactionTimeoutMs, nullptr);
    return started != nullptr ? DMLERR_NO_ERROR : DdeGetLastError(m_idInst);
}

void CTrackingLink::FollowDegreeItems() {
    RequestItem(m_hszAzimuthDegrees);
    RequestItem(m_hszElevationDegrees);
    StartAdvise(m_hszAzimuthDegrees);
    StartAdvise(m_hszElevationDegrees);
}

void CTrackingLink::RequestItem(HSZ item) {
    DWORD result = 0;
    HDDEDATA data = DdeClientTransaction(nullptr, 0, m_hConv, item, CF_TEXT, XTYP_REQUEST,
                                         kTransactionTimeoutMs, &result);
    OnData(data, item);
    if (data != nullptr) DdeFreeDataHandle(data);
}

// The service name first, then the item names; each becomes 0.
void CTrackingLink::ReleaseNames() {
    for (HSZ* name :
         {&m_hszService, &m_hszAzEl, &m_hszSatName, &m_hszAzimuthDegrees, &m_hszElevationDegrees}) {
        DdeFreeStringHandle(m_idInst, *name);
        *name = nullptr;
    }
}

int CTrackingLink::Disconnect(int serverEnded) {
    ReleaseNames();
    if (!serverEnded && m_hConv != nullptr) DdeDisconnect(m_hConv);
    m_hConv = nullptr;
    m_nElevation = 0;
    m_nAzimuth = 0;
    SetNoSatellite(m_szSatellite);
    Notify();
    return 0;
}

UINT CTrackingLink::OnData(HDDEDATA data, HSZ item) {
    // A refused or unanswered request brings no data: nothing to read, nothing changes.
    if (data == nullptr) return FALSE;
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    char text[dde::kItemCopySize];
    if (dde::CopyItemText(bytes, size, text)) {
        if (item == m_hszAzEl) {
            m_nElevation = 0;
            m_nAzimuth = 0;
            const dde::AzEl value = dde::ParseAzEl(text);
            m_nAzimuth = value.azimuth;
            m_nElevation = value.elevation;
        } else if (item == m_hszSatName) {
            dde::CopySatelliteName(text, m_szSatellite);
        } else if (item == m_hszAzimuthDegrees) {
            m_nAzimuth = dde::ParseDegrees(text);
        } else if (item == m_hszElevationDegrees) {
            m_nElevation = dde::ParseDegrees(text);
        }
        Notify();
    }
    return DdeUnaccessData(data);
}

void CTrackingLink::CheckPartner() {
    if (m_hConv == nullptr || m_bInConnect) return;
    const dde::PartnerCheck check = dde::CheckPartner(m_hConv);
    if (check.alive) return;

    const HCONV lost = m_hConv;
    Disconnect(1);
    m_hConvLost = lost;
    // Elsewhere the library reports the end itself and keeps its own machinery.
    if (check.known && m_bSilentLibrary && !dde::ReleaseLostConversation(lost, check.info))
        Reinitialize();
}

// String handles belong to the instance that made them, so none of the old instance's may be
// kept: the next Connect makes the names again under the new one.
void CTrackingLink::Reinitialize() {
    ReleaseNames();
    DdeUninitialize(m_idInst);
    m_idInst = 0;
    DdeInitializeA(&m_idInst, DdeCallback, APPCMD_CLIENTONLY, 0);
}

void CTrackingLink::OnDisconnectEvent(HCONV conv) {
    // Already reported by CheckPartner: the same loss is not reported twice.
    if (conv != nullptr && conv == m_hConvLost) {
        m_hConvLost = nullptr;
        return;
    }
    // Another conversation's end (one the library dropped after a re-registration).
    if (conv != m_hConv) return;
    // Connect is still using the conversation and the names: it reports the end itself.
    if (m_bInConnect) {
        m_bEndedDuringConnect = true;
        return;
    }
    Disconnect(1);
}

HDDEDATA CALLBACK DdeCallback(UINT type, UINT, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                              ULONG_PTR, ULONG_PTR) {
    CTrackingLink* link = LinkOfThisThread();
    if (link == nullptr) return nullptr;
    switch (type) {
        case XTYP_ADVDATA:
            link->OnData(data, hsz2);
            return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
        case XTYP_REGISTER:
            if (DdeCmpStringHandles(hsz1, link->m_hszService) == 0) link->Connect();
            return nullptr;
        case XTYP_DISCONNECT:
            link->OnDisconnectEvent(conv);
            return nullptr;
        default:
            return nullptr;
    }
}

}  // namespace dde
