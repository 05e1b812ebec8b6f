#include "tools/predsim/ddeml_server.h"

#include <cstring>

namespace predsim {
namespace {

constexpr DWORD kLibraryFlags = APPCLASS_STANDARD | CBF_FAIL_POKES | CBF_FAIL_EXECUTES |
                                CBF_FAIL_SELFCONNECTIONS | CBF_SKIP_REGISTRATIONS |
                                CBF_SKIP_UNREGISTRATIONS;
constexpr size_t kNameMax = 256;

// The library calls back without any context of ours.
DdemlServer* g_server = nullptr;

HDDEDATA Flag(bool value) {
    return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(value ? TRUE : FALSE));
}

// Wine's library does not end a server's conversation on DdeDisconnect; the conversation's
// window going ends it, with its terminate message.
void EndThroughWindow(HCONV conv) {
    CONVINFO info;
    std::memset(&info, 0, sizeof info);
    info.cb = sizeof info;
    if (DdeQueryConvInfo(conv, QID_SYNC, &info)) DestroyWindow(info.hwnd);
}

}  // namespace

DdemlServer::DdemlServer(const char* service, const char* topic, kelmafeed::EventLog& log)
    : m_service(service), m_log(log) {
    g_server = this;
    DdeInitializeA(&m_inst, Callback, kLibraryFlags, 0);
    m_hszService = DdeCreateStringHandleA(m_inst, service, CP_WINANSI);
    m_hszTopic = DdeCreateStringHandleA(m_inst, topic, CP_WINANSI);
}

DdemlServer::~DdemlServer() {
    DdeFreeStringHandle(m_inst, m_hszService);
    DdeFreeStringHandle(m_inst, m_hszTopic);
    DdeUninitialize(m_inst);
    g_server = nullptr;
}

void DdemlServer::Register() {
    m_registered = true;
    DdeNameService(m_inst, m_hszService, nullptr, DNS_REGISTER);
    m_log.Line("registered %s", m_service.c_str());
}

void DdemlServer::Unregister() {
    m_registered = false;
    DdeNameService(m_inst, m_hszService, nullptr, DNS_UNREGISTER);
    m_log.Line("unregistered %s", m_service.c_str());
}

void DdemlServer::SetItem(const std::string& item, const kelmafeed::Bytes& data) {
    m_items[item] = data;
    HSZ name = DdeCreateStringHandleA(m_inst, item.c_str(), CP_WINANSI);
    DdePostAdvise(m_inst, m_hszTopic, name);
    DdeFreeStringHandle(m_inst, name);
}

void DdemlServer::TerminateAll() {
    const std::map<HCONV, Conversation> ending = m_conversations;
    for (const auto& [conv, state] : ending) {
        m_log.Line("terminate %d", state.id);
        if (!DdeDisconnect(conv)) EndThroughWindow(conv);
        // The library may have reported the end already.
        if (m_conversations.erase(conv) != 0) m_log.Line("terminated %d", state.id);
    }
}

int DdemlServer::AdviseCount(const std::string& item) const {
    int count = 0;
    for (const auto& entry : m_conversations) {
        count += static_cast<int>(entry.second.advised.count(item));
    }
    return count;
}

bool DdemlServer::AnswerLate(Transaction kind, DWORD delayMs) {
    m_late = LateAnswer{kind, delayMs};
    return true;
}

HDDEDATA CALLBACK DdemlServer::Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                        HDDEDATA, ULONG_PTR, ULONG_PTR) {
    DdemlServer* server = g_server;
    if (server == nullptr) return nullptr;
    switch (type) {
        case XTYP_CONNECT:
            return Flag(server->Accepts(hsz1, hsz2));
        case XTYP_CONNECT_CONFIRM:
            server->OnConnected(conv);
            return nullptr;
        case XTYP_DISCONNECT:
            server->OnDisconnected(conv);
            return nullptr;
        case XTYP_REQUEST:
            return server->OnRequest(conv, format, hsz2);
        case XTYP_ADVSTART:
            return Flag(server->OnAdviseStart(conv, format, hsz2));
        case XTYP_ADVSTOP:
            server->OnAdviseStop(conv, hsz2);
            return nullptr;
        case XTYP_ADVREQ:
            return server->OnAdviseRequest(conv, hsz2);
        default:
            return nullptr;
    }
}

bool DdemlServer::Accepts(HSZ topic, HSZ service) const {
    return m_registered && DdeCmpStringHandles(topic, m_hszTopic) == 0 &&
           DdeCmpStringHandles(service, m_hszService) == 0;
}

void DdemlServer::OnConnected(HCONV conv) {
    const int id = m_nextId++;
    m_conversations[conv] = Conversation{id, {}};
    m_log.Line("connect %d", id);
}

void DdemlServer::OnDisconnected(HCONV conv) {
    auto found = m_conversations.find(conv);
    if (found == m_conversations.end()) return;
    m_log.Line("terminated %d", found->second.id);
    m_conversations.erase(found);
}

HDDEDATA DdemlServer::OnRequest(HCONV conv, UINT format, HSZ item) {
    const std::string name = Name(item);
    m_log.Line("request %d %s", IdOf(conv), name.c_str());
    WaitIfLate(Transaction::kRequest);
    if (m_refuseRequests || format != CF_TEXT || m_refusedItems.count(name) != 0 ||
        m_items.count(name) == 0) {
        return nullptr;  // a negative acknowledgement
    }
    return Answer("answer", conv, item, name);
}

bool DdemlServer::OnAdviseStart(HCONV conv, UINT format, HSZ item) {
    const std::string name = Name(item);
    m_log.Line("advise %d %s", IdOf(conv), name.c_str());
    WaitIfLate(Transaction::kAdviseStart);
    auto found = m_conversations.find(conv);
    if (format != CF_TEXT || m_refusedItems.count(name) != 0 || found == m_conversations.end()) {
        return false;
    }
    found->second.advised.insert(name);
    return true;
}

void DdemlServer::OnAdviseStop(HCONV conv, HSZ item) {
    const std::string name = Name(item);
    auto found = m_conversations.find(conv);
    if (found != m_conversations.end()) found->second.advised.erase(name);
    m_log.Line("unadvise %d %s", IdOf(conv), name.c_str());
}

HDDEDATA DdemlServer::OnAdviseRequest(HCONV conv, HSZ item) {
    return Answer("post", conv, item, Name(item));
}

// A program busy with something else: the library's answer waits for the callback.
void DdemlServer::WaitIfLate(Transaction kind) {
    if (!m_late || m_late->kind != kind) return;
    const DWORD delayMs = m_late->delayMs;
    m_late.reset();
    Sleep(delayMs);
}

HDDEDATA DdemlServer::Answer(const char* event, HCONV conv, HSZ item, const std::string& name) {
    const kelmafeed::Bytes& data = m_items[name];
    m_log.Line("%s %d %s %u %s", event, IdOf(conv), name.c_str(),
               static_cast<unsigned>(data.size()), kelmafeed::Printable(data).c_str());
    // The library frees the handle once it has sent the data.
    return DdeCreateDataHandle(m_inst, reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
                               static_cast<DWORD>(data.size()), 0, item, CF_TEXT, 0);
}

std::string DdemlServer::Name(HSZ name) const {
    char text[kNameMax] = "";
    DdeQueryStringA(m_inst, name, text, sizeof text, CP_WINANSI);
    return text;
}

int DdemlServer::IdOf(HCONV conv) const {
    auto found = m_conversations.find(conv);
    return found == m_conversations.end() ? 0 : found->second.id;
}

}  // namespace predsim
