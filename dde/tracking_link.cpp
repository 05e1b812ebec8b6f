#include "dde/tracking_link.h"

#include <cstring>

CTrackingLink* g_pTrackingLink = nullptr;

CTrackingLink::CTrackingLink()
    : m_hszService(0),
      m_hszSatName(0),
      m_hNotifyWnd(nullptr),
      m_nElevation(-1000),
      m_nAzimuth(-1000),
      m_hszAzEl(0),
      m_hConv(0),
      m_idInst(0) {
    strcpy(m_szSatellite, "none");
    g_pTrackingLink = this;
}
CTrackingLink::~CTrackingLink() {}
int CTrackingLink::Connect() {
    return 0;
}
int CTrackingLink::Disconnect(int) {
    return 0;
}
UINT CTrackingLink::OnData(HDDEDATA, HSZ) {
    return 0;
}
HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}
