// A DDE server that speaks the DDE message protocol itself (initiate, request, advise, unadvise,
// terminate, with packed lParams and global memory; poke and execute are refused), as many
// prediction programs do. Its service name is announced through a DDE-library instance that
// exists only for that and refuses every connection, so the conversation windows exist before
// any client hears of the service.
// Runs on the thread that created it; that thread must dispatch messages. The prediction-server
// simulator and kelmafeed's "WinOrbit" service are two front ends of it.
#pragma once

#include <windows.h>
#include <ddeml.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "feed/event_log.h"

namespace kelmafeed {

using Bytes = std::vector<char>;

class DdeServer {
public:
    DdeServer(const char* service, const char* topic, EventLog& log);
    ~DdeServer();

    // Starts or stops answering WM_DDE_INITIATE and announces or withdraws the service name.
    void Register();
    void Unregister();
    // Stores an item's data and posts it on every conversation with an advise loop on it; drops
    // a conversation whose client window has gone.
    void SetItem(const std::string& item, const Bytes& data);
    // Ends every conversation; windows go when the client answers (or at the next call).
    void TerminateAll();
    // Advise loops on an item, over all conversations.
    int AdviseCount(const std::string& item) const;
    int ConversationCount() const { return static_cast<int>(m_conversations.size()); }

    // Requests are answered with a negative acknowledgement.
    bool m_refuseRequests = false;
    // Requests and advise starts are not answered at all (a server that has hung).
    bool m_mute = false;
    // Items this server does not offer: requests and advise starts on them get a negative
    // acknowledgement.
    std::set<std::string> m_refusedItems;

private:
    struct Conversation {
        int id;
        HWND client;
        std::set<std::string> advised;
        bool terminating = false;
    };

    static LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ConversationProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);
    static HDDEDATA CALLBACK RegistrarCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                               ULONG_PTR);

    void OnInitiate(HWND client, ATOM application, ATOM topic);
    void OnConversationMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnRequest(HWND window, Conversation& conv, LPARAM lParam);
    void OnAdvise(HWND window, Conversation& conv, LPARAM lParam);
    void OnUnadvise(HWND window, Conversation& conv, LPARAM lParam);
    void OnTerminate(HWND window, Conversation& conv);
    void Refuse(HWND window, const Conversation& conv, UINT message, LPARAM lParam);
    // False when the client's window did not take the data.
    bool PostData(HWND window, Conversation& conv, const std::string& item, const Bytes& data,
                  bool response);
    void PostAck(HWND window, const Conversation& conv, bool positive, ATOM item);
    void DestroyConversation(HWND window);

    std::string m_service;
    std::string m_topic;
    EventLog& m_log;
    bool m_registered = false;
    HWND m_listener = nullptr;
    DWORD m_registrar = 0;
    HSZ m_hszService = nullptr;
    int m_nextId = 1;
    std::map<HWND, Conversation> m_conversations;
    std::map<std::string, Bytes> m_items;
};

// Printable form of item data for the event lines: the bytes up to the first NUL (at most 40),
// other control and non-ASCII bytes as '.'.
std::string Printable(const Bytes& data);

}  // namespace kelmafeed
