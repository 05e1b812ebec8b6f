#include "feed/dde_server.h"

#include <dde.h>

#include <cstddef>
#include <cstring>

namespace kelmafeed {
namespace {

constexpr char kListenerClass[] = "KelmaDdeServerListener";
constexpr char kConversationClass[] = "KelmaDdeServerConversation";
constexpr WORD kAckPositive = 0x8000;
constexpr size_t kPrintableMax = 40;
constexpr size_t kAtomNameMax = 256;
// Offset of the value in a DDEDATA block (after the flags word and the format).
constexpr size_t kDataHeaderSize = offsetof(DDEDATA, Value);

DdeServer* g_server = nullptr;

std::string AtomName(ATOM atom) {
    char name[kAtomNameMax] = "";
    if (atom != 0) GlobalGetAtomNameA(atom, name, sizeof name);
    return name;
}

bool NameMatches(ATOM atom, const std::string& name) {
    return atom == 0 || lstrcmpiA(AtomName(atom).c_str(), name.c_str()) == 0;
}

void RegisterClasses() {
    WNDCLASSA wc = {};
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = kListenerClass;
    RegisterClassA(&wc);
    wc.lpszClassName = kConversationClass;
    RegisterClassA(&wc);
}

}  // namespace

std::string Printable(const Bytes& data) {
    std::string text;
    for (char c : data) {
        if (c == '\0' || text.size() == kPrintableMax) break;
        text += (c >= ' ' && c <= '~') ? c : '.';
    }
    return text;
}

DdeServer::DdeServer(const char* service, const char* topic, EventLog& log)
    : m_service(service), m_topic(topic), m_log(log) {
    g_server = this;
    RegisterClasses();
    m_listener = CreateWindowA(kListenerClass, service, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(m_listener, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListenerProc));
    // A library instance only to announce the name; it takes no conversations itself.
    DdeInitializeA(&m_registrar, RegistrarCallback,
                   APPCLASS_STANDARD | CBF_FAIL_CONNECTIONS | CBF_SKIP_ALLNOTIFICATIONS, 0);
    m_hszService = DdeCreateStringHandleA(m_registrar, service, CP_WINANSI);
}

DdeServer::~DdeServer() {
    DestroyWindow(m_listener);
    g_server = nullptr;
}

HDDEDATA CALLBACK DdeServer::RegistrarCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                               ULONG_PTR) {
    return nullptr;  // refuses XTYP_CONNECT and everything else
}

void DdeServer::Register() {
    m_registered = true;
    DdeNameService(m_registrar, m_hszService, nullptr, DNS_REGISTER);
    m_log.Line("registered %s", m_service.c_str());
}

void DdeServer::Unregister() {
    m_registered = false;
    DdeNameService(m_registrar, m_hszService, nullptr, DNS_UNREGISTER);
    m_log.Line("unregistered %s", m_service.c_str());
}

LRESULT CALLBACK DdeServer::ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DDE_INITIATE && g_server != nullptr) {
        g_server->OnInitiate(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void DdeServer::OnInitiate(HWND client, ATOM application, ATOM topic) {
    if (!m_registered || !NameMatches(application, m_service) || !NameMatches(topic, m_topic)) {
        return;
    }
    HWND window = CreateWindowA(kConversationClass, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ConversationProc));
    Conversation conv{m_nextId++, client, {}, false};
    m_conversations[window] = conv;
    m_log.Line("connect %d", conv.id);
    // The answer to an initiate is sent, not posted, with new atoms the client deletes.
    const ATOM app = GlobalAddAtomA(m_service.c_str());
    const ATOM top = GlobalAddAtomA(m_topic.c_str());
    SendMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(app, top));
}

LRESULT CALLBACK DdeServer::ConversationProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message >= WM_DDE_FIRST && message <= WM_DDE_LAST && g_server != nullptr) {
        g_server->OnConversationMessage(window, message, wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void DdeServer::OnConversationMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto found = m_conversations.find(window);
    if (found == m_conversations.end() || reinterpret_cast<HWND>(wParam) != found->second.client) {
        return;  // not from our partner
    }
    Conversation& conv = found->second;
    switch (message) {
        case WM_DDE_REQUEST:
            OnRequest(window, conv, lParam);
            break;
        case WM_DDE_ADVISE:
            OnAdvise(window, conv, lParam);
            break;
        case WM_DDE_UNADVISE:
            OnUnadvise(window, conv, lParam);
            break;
        case WM_DDE_TERMINATE:
            OnTerminate(window, conv);
            break;
        case WM_DDE_ACK: {
            UINT_PTR status = 0, item = 0;
            UnpackDDElParam(message, lParam, &status, &item);
            FreeDDElParam(message, lParam);
            GlobalDeleteAtom(static_cast<ATOM>(item));
            break;
        }
        default:  // poke and execute are not offered
            Refuse(window, conv, message, lParam);
            break;
    }
}

// A negative answer at once, so that the client need not wait out its time-out. A poke's data
// is freed by the client on that answer; the copy that came with the message is this process's
// to free, as the DDE library's own servers do. Commands are handed back with the answer, and
// the client frees them.
void DdeServer::Refuse(HWND window, const Conversation& conv, UINT message, LPARAM lParam) {
    m_log.Line("unsupported %d 0x%x", conv.id, message);
    if (message != WM_DDE_POKE && message != WM_DDE_EXECUTE) return;  // not a client's message
    UINT_PTR low = 0, high = 0;
    UnpackDDElParam(message, lParam, &low, &high);
    if (message == WM_DDE_POKE) GlobalFree(reinterpret_cast<HGLOBAL>(low));
    const LPARAM ack = ReuseDDElParam(lParam, message, WM_DDE_ACK, 0, high);
    if (!PostMessageA(conv.client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), ack)) {
        FreeDDElParam(WM_DDE_ACK, ack);
        if (message == WM_DDE_POKE) {
            GlobalDeleteAtom(static_cast<ATOM>(high));
        } else {
            GlobalFree(reinterpret_cast<HGLOBAL>(high));
        }
    }
}

void DdeServer::OnRequest(HWND window, Conversation& conv, LPARAM lParam) {
    UINT_PTR format = 0, itemAtom = 0;
    UnpackDDElParam(WM_DDE_REQUEST, lParam, &format, &itemAtom);
    FreeDDElParam(WM_DDE_REQUEST, lParam);
    const ATOM atom = static_cast<ATOM>(itemAtom);
    const std::string item = AtomName(atom);
    m_log.Line("request %d %s", conv.id, item.c_str());
    if (m_mute) {
        GlobalDeleteAtom(atom);
        return;
    }
    auto data = m_items.find(item);
    if (m_refuseRequests || format != CF_TEXT || data == m_items.end() ||
        m_refusedItems.count(item) != 0) {
        PostAck(window, conv, false, atom);
        return;
    }
    GlobalDeleteAtom(atom);
    PostData(window, conv, item, data->second, true);
}

void DdeServer::OnAdvise(HWND window, Conversation& conv, LPARAM lParam) {
    UINT_PTR options = 0, itemAtom = 0;
    UnpackDDElParam(WM_DDE_ADVISE, lParam, &options, &itemAtom);
    FreeDDElParam(WM_DDE_ADVISE, lParam);
    const ATOM atom = static_cast<ATOM>(itemAtom);
    const std::string item = AtomName(atom);
    HGLOBAL optionsMemory = reinterpret_cast<HGLOBAL>(options);
    const DDEADVISE* advise = static_cast<const DDEADVISE*>(GlobalLock(optionsMemory));
    const bool usable =
        advise != nullptr && advise->cfFormat == CF_TEXT && m_refusedItems.count(item) == 0;
    if (advise != nullptr) GlobalUnlock(optionsMemory);
    m_log.Line("advise %d %s", conv.id, item.c_str());
    if (m_mute) {
        GlobalDeleteAtom(atom);  // the client keeps the options
        return;
    }
    if (!usable) {
        PostAck(window, conv, false, atom);  // the client keeps the options
        return;
    }
    conv.advised.insert(item);
    GlobalFree(optionsMemory);  // a positive answer hands them to us
    PostAck(window, conv, true, atom);
}

void DdeServer::OnUnadvise(HWND window, Conversation& conv, LPARAM lParam) {
    UINT_PTR format = 0, itemAtom = 0;
    UnpackDDElParam(WM_DDE_UNADVISE, lParam, &format, &itemAtom);
    FreeDDElParam(WM_DDE_UNADVISE, lParam);
    const ATOM atom = static_cast<ATOM>(itemAtom);
    if (atom == 0) {
        conv.advised.clear();
    } else {
        conv.advised.erase(AtomName(atom));
    }
    m_log.Line("unadvise %d %s", conv.id, atom ? AtomName(atom).c_str() : "*");
    PostAck(window, conv, true, atom);
}

void DdeServer::OnTerminate(HWND window, Conversation& conv) {
    m_log.Line("terminated %d", conv.id);
    if (!conv.terminating) {
        PostMessageA(conv.client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
    }
    DestroyConversation(window);
}

void DdeServer::PostAck(HWND window, const Conversation& conv, bool positive, ATOM item) {
    const LPARAM lParam = PackDDElParam(WM_DDE_ACK, positive ? kAckPositive : 0, item);
    if (!PostMessageA(conv.client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), lParam)) {
        FreeDDElParam(WM_DDE_ACK, lParam);
        GlobalDeleteAtom(item);
    }
}

bool DdeServer::PostData(HWND window, Conversation& conv, const std::string& item,
                         const Bytes& data, bool response) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, kDataHeaderSize + data.size());
    DDEDATA* block = static_cast<DDEDATA*>(GlobalLock(memory));
    if (block == nullptr) return false;
    std::memset(block, 0, kDataHeaderSize);
    block->fResponse = response;
    block->fRelease = TRUE;  // the client frees the data
    block->fAckReq = FALSE;
    block->cfFormat = CF_TEXT;
    if (!data.empty()) std::memcpy(block->Value, data.data(), data.size());
    GlobalUnlock(memory);

    const ATOM atom = GlobalAddAtomA(item.c_str());
    const LPARAM lParam = PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(memory), atom);
    m_log.Line("%s %d %s %u %s", response ? "answer" : "post", conv.id, item.c_str(),
               static_cast<unsigned>(data.size()), Printable(data).c_str());
    if (!PostMessageA(conv.client, WM_DDE_DATA, reinterpret_cast<WPARAM>(window), lParam)) {
        FreeDDElParam(WM_DDE_DATA, lParam);
        GlobalFree(memory);
        GlobalDeleteAtom(atom);
        m_log.Line("lost %d", conv.id);
        return false;
    }
    return true;
}

void DdeServer::SetItem(const std::string& item, const Bytes& data) {
    m_items[item] = data;
    // A client that ended without saying so (a program killed) leaves nobody to post to.
    std::vector<HWND> gone;
    for (auto& [window, conv] : m_conversations) {
        if (conv.terminating || conv.advised.count(item) == 0) continue;
        if (!PostData(window, conv, item, data, false) && !IsWindow(conv.client)) {
            gone.push_back(window);
        }
    }
    for (HWND window : gone) {
        m_log.Line("gone %d", m_conversations[window].id);
        DestroyConversation(window);
    }
}

void DdeServer::TerminateAll() {
    std::vector<HWND> gone;
    for (auto& [window, conv] : m_conversations) {
        if (conv.terminating) {
            gone.push_back(window);  // asked before and never answered
            continue;
        }
        conv.terminating = true;
        m_log.Line("terminate %d", conv.id);
        if (!PostMessageA(conv.client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0)) {
            gone.push_back(window);
        }
    }
    for (HWND window : gone) DestroyConversation(window);
}

void DdeServer::DestroyConversation(HWND window) {
    m_conversations.erase(window);
    DestroyWindow(window);
}

int DdeServer::AdviseCount(const std::string& item) const {
    int count = 0;
    for (const auto& entry : m_conversations) {
        if (!entry.second.terminating) count += static_cast<int>(entry.second.advised.count(item));
    }
    return count;
}

}  // namespace kelmafeed
