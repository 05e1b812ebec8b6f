// Client side of the DDE conversation with the orbit-prediction program (service "WinOrbit",
// topic "TrackingInfo", items "AzEl" and "SatelliteName").
#pragma once

#include <windows.h>
#include <ddeml.h>

class CTrackingLink {
public:
    CTrackingLink();
    virtual ~CTrackingLink();

    int Connect();
    int Disconnect(int serverEnded);
    UINT OnData(HDDEDATA data, HSZ item);
    // Where the DDE library never reports the end of a conversation (Wine), finds a
    // conversation whose partner has gone and runs Disconnect(1) for it, once. Called on
    // every poll-timer tick.
    void CheckPartner();

    // Fields, in this order; read by the operator window.
    HSZ m_hszService;
    HSZ m_hszSatName;
    char m_szSatellite[32];
    HWND m_hNotifyWnd;
    int m_nElevation;
    int m_nAzimuth;
    HSZ m_hszAzEl;
    HCONV m_hConv;
    DWORD m_idInst;

private:
    friend HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                         ULONG_PTR);

    void Notify();
    void RequestItem(HSZ item);
    void ReleaseLostConversation(HCONV conv, const CONVINFO& info);

    // The conversation whose loss CheckPartner reported; a late end-of-conversation event for
    // it is not reported a second time.
    HCONV m_hConvLost = nullptr;
};

extern CTrackingLink* g_pTrackingLink;

HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                              ULONG_PTR data1, ULONG_PTR data2);
