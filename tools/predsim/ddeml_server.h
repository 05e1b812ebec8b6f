// A DDE server built on the DDE library (DDEML), as Orbitron and SatPC32 are. The library answers
// initiates for the registered name (DdeNameService) and runs the conversations and advise loops;
// this server answers its callbacks: XTYP_CONNECT, XTYP_REQUEST, XTYP_ADVSTART and, after each
// DdePostAdvise, one XTYP_ADVREQ per advise loop. Poke and execute are refused by the library.
// Its event lines are those of the message-protocol server.
#pragma once

#include <windows.h>
#include <ddeml.h>

#include <map>
#include <optional>
#include <set>
#include <string>

#include "tools/predsim/scripted_server.h"

namespace predsim {

class DdemlServer : public ScriptedServer {
public:
    DdemlServer(const char* service, const char* topic, kelmafeed::EventLog& log);
    ~DdemlServer() override;
    DdemlServer(const DdemlServer&) = delete;
    DdemlServer& operator=(const DdemlServer&) = delete;

    void Register() override;
    void Unregister() override;
    void SetItem(const std::string& item, const kelmafeed::Bytes& data) override;
    void TerminateAll() override;
    int AdviseCount(const std::string& item) const override;
    int ConversationCount() const override { return static_cast<int>(m_conversations.size()); }
    void RefuseItem(const std::string& item) override { m_refusedItems.insert(item); }
    void RefuseRequests(bool on) override { m_refuseRequests = on; }
    // The library answers every transaction the callback returns from.
    bool Mute(bool) override { return false; }
    bool AnswerLate(Transaction kind, DWORD delayMs) override;

private:
    struct Conversation {
        int id;
        std::set<std::string> advised;
    };
    struct LateAnswer {
        Transaction kind;
        DWORD delayMs;
    };

    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR, ULONG_PTR);
    bool Accepts(HSZ topic, HSZ service) const;
    void OnConnected(HCONV conv);
    void OnDisconnected(HCONV conv);
    HDDEDATA OnRequest(HCONV conv, UINT format, HSZ item);
    bool OnAdviseStart(HCONV conv, UINT format, HSZ item);
    void OnAdviseStop(HCONV conv, HSZ item);
    HDDEDATA OnAdviseRequest(HCONV conv, HSZ item);
    void WaitIfLate(Transaction kind);
    HDDEDATA Answer(const char* event, HCONV conv, HSZ item, const std::string& name);
    std::string Name(HSZ name) const;
    int IdOf(HCONV conv) const;

    std::string m_service;
    kelmafeed::EventLog& m_log;
    DWORD m_inst = 0;
    HSZ m_hszService = nullptr;
    HSZ m_hszTopic = nullptr;
    bool m_registered = false;
    int m_nextId = 1;
    std::map<HCONV, Conversation> m_conversations;
    std::map<std::string, kelmafeed::Bytes> m_items;
    std::set<std::string> m_refusedItems;
    bool m_refuseRequests = false;
    std::optional<LateAnswer> m_late;
};

}  // namespace predsim
