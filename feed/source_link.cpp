#include "feed/source_link.h"

#include "dde/partner_check.h"

#include <string>

namespace kelmafeed {
namespace {

constexpr DWORD kTransactionTimeoutMs = 1000;

// DDEML calls back without any context of ours.
SourceLink* g_link = nullptr;

HSZ MakeName(DWORD inst, const std::string& text) {
    return DdeCreateStringHandleA(inst, text.c_str(), CP_WINANSI);
}

// A conversation with a server of the service and topic, or none.
HCONV ConnectService(DWORD inst, const std::string& service, const std::string& topic) {
    HSZ serviceName = MakeName(inst, service);
    HSZ topicName = MakeName(inst, topic);
    HCONV conv = DdeConnect(inst, serviceName, topicName, nullptr);
    DdeFreeStringHandle(inst, serviceName);
    DdeFreeStringHandle(inst, topicName);
    return conv;
}

}  // namespace

HDDEDATA CALLBACK SourceCallback(UINT type, UINT, HCONV conv, HSZ hsz1, HSZ, HDDEDATA data,
                                 ULONG_PTR, ULONG_PTR) {
    SourceLink* link = g_link;
    if (link == nullptr) return nullptr;
    switch (type) {
        case XTYP_ADVDATA:
            if (conv == link->m_conv) link->OnData(data);
            return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
        case XTYP_REGISTER:
            link->OnRegistered(hsz1);
            return nullptr;
        case XTYP_DISCONNECT:
            link->OnDisconnected(conv);
            return nullptr;
        default:
            return nullptr;
    }
}

SourceLink::SourceLink(std::vector<DdeSource> candidates, Events events, bool silentLibrary)
    : m_candidates(std::move(candidates)),
      m_events(std::move(events)),
      m_silentLibrary(silentLibrary) {
    g_link = this;
    Initialize();
}

SourceLink::~SourceLink() {
    if (m_conv != nullptr) DdeDisconnect(m_conv);
    FreeItem();
    DdeUninitialize(m_inst);
    g_link = nullptr;
}

void SourceLink::Initialize() {
    m_inst = 0;
    DdeInitializeA(&m_inst, SourceCallback, APPCMD_CLIENTONLY, 0);
}

void SourceLink::FreeItem() {
    DdeFreeStringHandle(m_inst, m_item);
    m_item = nullptr;
}

std::string SourceLink::Name() const {
    return m_conv != nullptr ? m_source->name : SourcesName(m_candidates);
}

void SourceLink::Connect() {
    if (m_conv != nullptr || m_inTransaction) return;
    m_inTransaction = true;
    for (const DdeSource& source : m_candidates) {
        m_conv = ConnectService(m_inst, source.service, source.topic);
        if (m_conv == nullptr) continue;
        m_source = &source;
        m_item = MakeName(m_inst, source.item);
        break;
    }
    if (m_conv != nullptr) {
        m_events.connected();
        Request();
        StartAdvise();
    }
    m_inTransaction = false;
    EndDeferredLoss();
}

// Only the program's own refusal counts: an answer that did not come may yet start the loop.
void SourceLink::StartAdvise() {
    const bool first = m_advise == Advise::kStarting;
    if (DdeClientTransaction(nullptr, 0, m_conv, m_item, CF_TEXT, XTYP_ADVSTART,
                             kTransactionTimeoutMs, nullptr) != nullptr) {
        m_advise = Advise::kRunning;
    } else if (DdeGetLastError(m_inst) == DMLERR_NOTPROCESSED) {
        m_advise = Advise::kRefused;
    } else {
        m_advise = Advise::kUnanswered;
        if (first) m_events.unanswered();
    }
}

bool SourceLink::ServiceAnswers(const char* service, const char* topic) {
    HCONV conv = ConnectService(m_inst, service, topic);
    if (conv == nullptr) return false;
    DdeDisconnect(conv);
    return true;
}

void SourceLink::Request() {
    HDDEDATA data = DdeClientTransaction(nullptr, 0, m_conv, m_item, CF_TEXT, XTYP_REQUEST,
                                         kTransactionTimeoutMs, nullptr);
    if (data == nullptr) return;  // refused or unanswered: nothing new
    OnData(data);
    DdeFreeDataHandle(data);
}

void SourceLink::OnData(HDDEDATA data) {
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    if (bytes != nullptr)
        m_events.text(std::string_view(reinterpret_cast<const char*>(bytes), size));
    DdeUnaccessData(data);
}

void SourceLink::OnRegistered(HSZ service) {
    if (m_conv != nullptr || m_inTransaction) return;
    for (const DdeSource& source : m_candidates) {
        HSZ name = MakeName(m_inst, source.service);
        const bool ours = DdeCmpStringHandles(service, name) == 0;
        DdeFreeStringHandle(m_inst, name);
        if (ours) {
            Connect();
            return;
        }
    }
}

void SourceLink::Check() {
    if (m_conv == nullptr || m_inTransaction) return;
    const dde::PartnerCheck check = dde::CheckPartner(m_conv);
    if (check.alive) {
        if (m_advise == Advise::kRunning) return;
        m_inTransaction = true;
        if (m_advise == Advise::kRefused) {
            Request();
        } else {
            StartAdvise();
        }
        m_inTransaction = false;
        EndDeferredLoss();
        return;
    }
    const HCONV lost = m_conv;
    Lose();
    // Elsewhere the library reports the end itself and keeps its own machinery.
    // The library keeps a conversation it never reported as ended, and Wine's refuses a new one
    // with the same service and topic while it does.
    if (check.known && m_silentLibrary && !dde::ReleaseLostConversation(lost, check.info)) {
        DdeUninitialize(m_inst);
        Initialize();
    }
}

void SourceLink::OnDisconnected(HCONV conv) {
    if (conv == nullptr || conv != m_conv) return;
    if (m_inTransaction) {
        m_endedDuringTransaction = true;  // the transaction's caller still uses it
        return;
    }
    Lose();
}

void SourceLink::EndDeferredLoss() {
    if (!m_endedDuringTransaction) return;
    m_endedDuringTransaction = false;
    if (m_conv != nullptr) Lose();
}

void SourceLink::Lose() {
    m_conv = nullptr;
    m_advise = Advise::kStarting;
    FreeItem();
    m_events.lost(m_source->name);
}

}  // namespace kelmafeed
