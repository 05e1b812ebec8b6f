// The DDE server the simulator's script drives: the one that speaks the message protocol itself
// (shared with kelmafeed's "WinOrbit" service), or one built on the DDE library (DDEML), as
// Orbitron and SatPC32 are. Both run on the thread that created them, which dispatches messages.
#pragma once

#include <windows.h>

#include <string>

#include "feed/dde_server.h"
#include "feed/event_log.h"

namespace predsim {

enum class Transaction { kRequest, kAdviseStart };

class ScriptedServer {
public:
    virtual ~ScriptedServer() = default;

    // Announces or withdraws the service name; conversations stay.
    virtual void Register() = 0;
    virtual void Unregister() = 0;
    // Stores an item's data and posts it on every advise loop on it.
    virtual void SetItem(const std::string& item, const kelmafeed::Bytes& data) = 0;
    // Ends every conversation.
    virtual void TerminateAll() = 0;
    virtual int AdviseCount(const std::string& item) const = 0;
    virtual int ConversationCount() const = 0;

    // Requests and advise starts on the item get a negative acknowledgement.
    virtual void RefuseItem(const std::string& item) = 0;
    // Requests get a negative acknowledgement.
    virtual void RefuseRequests(bool on) = 0;
    // Requests and advise starts get no answer at all; false where the server cannot do that.
    virtual bool Mute(bool on) = 0;
    // The next transaction of the kind is answered that late, the server busy meanwhile; false
    // where the server cannot do that.
    virtual bool AnswerLate(Transaction kind, DWORD delayMs) = 0;
};

// The message-protocol server, as kelmafeed serves "WinOrbit" and many prediction programs do.
class MessageServer : public ScriptedServer {
public:
    MessageServer(const char* service, const char* topic, kelmafeed::EventLog& log)
        : m_server(service, topic, log) {}

    void Register() override { m_server.Register(); }
    void Unregister() override { m_server.Unregister(); }
    void SetItem(const std::string& item, const kelmafeed::Bytes& data) override {
        m_server.SetItem(item, data);
    }
    void TerminateAll() override { m_server.TerminateAll(); }
    int AdviseCount(const std::string& item) const override { return m_server.AdviseCount(item); }
    int ConversationCount() const override { return m_server.ConversationCount(); }
    void RefuseItem(const std::string& item) override { m_server.m_refusedItems.insert(item); }
    void RefuseRequests(bool on) override { m_server.m_refuseRequests = on; }
    bool Mute(bool on) override {
        m_server.m_mute = on;
        return true;
    }
    bool AnswerLate(Transaction, DWORD) override { return false; }

private:
    kelmafeed::DdeServer m_server;
};

}  // namespace predsim
