// Client side of the DDE conversation with the orbit-prediction program (service "WinOrbit",
// topic "TrackingInfo", items "AzEl" and "SatelliteName"; from a server that refuses "AzEl",
// "AzimuthDegrees" and "ElevationDegrees" instead, as WinOrbit's own help describes it).
#pragma once

#include <windows.h>
#include <ddeml.h>

#include "dde/winorbit.h"

namespace dde {

// The link's notification to its window: WM_COMMAND with this id, code 0 and no control window.
#define ID_TRACKING_UPDATE 2001

class CTrackingLink {
public:
    CTrackingLink();
    // silentLibrary: the DDE library never reports a partner that went away (Wine's).
    explicit CTrackingLink(bool silentLibrary);
    virtual ~CTrackingLink();

    int Connect();
    int Disconnect(int serverEnded);
    UINT OnData(HDDEDATA data, HSZ item);
    // Finds a conversation whose partner has gone and runs Disconnect(1) for it, once, for a
    // DDE library that never reports the end (Wine's); there it also lets the library's hold
    // on the conversation go. Called on every poll-timer tick.
    void CheckPartner();
    // Connect's transactions let the thread's messages through (a timer tick, a port change,
    // a notification's handler); nothing that would change the conversation runs then.
    bool InConnect() const { return m_bInConnect; }

    // Fields, read by the operator window. The link is found by its DDE callback through the
    // window it notifies, from its first Connect on.
    HSZ m_hszService;
    HSZ m_hszSatName;
    char m_szSatellite[dde::kSatelliteNameSize];
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
    void RenewItemNames();
    void ReleaseNames();
    void RequestItem(HSZ item);
    // DMLERR_NO_ERROR, or why the advise loop did not start (DMLERR_NOTPROCESSED: refused).
    UINT StartAdvise(HSZ item);
    void FollowDegreeItems();
    int ConnectOnce();
    void OnDisconnectEvent(HCONV conv);
    void Reinitialize();

    // The position items of a server without "AzEl", one angle each.
    HSZ m_hszAzimuthDegrees = nullptr;
    HSZ m_hszElevationDegrees = nullptr;
    // The conversation whose loss CheckPartner reported; a late end-of-conversation event for
    // it is not reported a second time.
    HCONV m_hConvLost = nullptr;
    bool m_bInConnect = false;
    bool m_bEndedDuringConnect = false;  // reported once Connect has finished with it
    const bool m_bSilentLibrary;
};

HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                              ULONG_PTR data1, ULONG_PTR data2);

}  // namespace dde
