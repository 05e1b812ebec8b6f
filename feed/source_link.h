// The relay's DDE client of its source: a tracking program that publishes its text as one item.
// It connects to the first of its candidate programs that answers; it requests the item once,
// then starts an advise loop. A program that refuses the loop is asked for the item on every
// check instead; one whose answer does not come in time gets the advise start again at the next
// check, and is not asked meanwhile, so that a loop it started late never runs beside the
// asking. When the program goes away the link waits for any candidate and connects again as
// soon as one registers its service, or at the latest on the next Connect.
// Everything runs on the thread that created the link; DDEML calls back while it dispatches.
#pragma once

#include <windows.h>
#include <ddeml.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "feed/options.h"

namespace kelmafeed {

class SourceLink {
public:
    struct Events {
        std::function<void(std::string_view text)> text;  // a new text of the item
        std::function<void()> connected;
        std::function<void(const std::string& program)> lost;  // the program that went away
        std::function<void()> unanswered;  // the first advise start of a connection timed out
    };

    // silentLibrary: the DDE library never reports a partner that went away (Wine's).
    SourceLink(std::vector<DdeSource> candidates, Events events, bool silentLibrary);
    ~SourceLink();
    SourceLink(const SourceLink&) = delete;
    SourceLink& operator=(const SourceLink&) = delete;

    // Tries the candidates in turn while there is no conversation.
    void Connect();
    // While connected: finds a partner that has gone (for a library that does not say so), and
    // asks for the item when the program refuses an advise loop, or starts the loop again when
    // its answer did not come. Called on a timer.
    void Check();
    // Whether a server already offers the service and topic (a conversation opens and is ended
    // at once).
    bool ServiceAnswers(const char* service, const char* topic);

    // Whether the DDE library took the link (without it nothing ever connects).
    bool Ready() const { return m_inst != 0; }
    bool Connected() const { return m_conv != nullptr; }
    // The name to show: the program connected to, else all candidates.
    std::string Name() const;

private:
    friend HDDEDATA CALLBACK SourceCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                            ULONG_PTR);

    // Whether the loop is yet to be started, the item comes on it, is asked for on every check,
    // or waits for the loop to be started again.
    enum class Advise { kStarting, kRunning, kRefused, kUnanswered };

    void Request();
    void StartAdvise();
    void OnData(HDDEDATA data);
    void OnRegistered(HSZ service);
    void OnDisconnected(HCONV conv);
    void Lose();
    void EndDeferredLoss();
    void Initialize();
    void FreeItem();

    std::vector<DdeSource> m_candidates;
    Events m_events;
    const bool m_silentLibrary;
    DWORD m_inst = 0;
    HCONV m_conv = nullptr;
    HSZ m_item = nullptr;
    const DdeSource* m_source = nullptr;  // the candidate connected to
    Advise m_advise = Advise::kStarting;
    // Transactions let other messages through; nothing may start another Connect or end the
    // conversation under one. An end reported meanwhile is acted on afterwards.
    bool m_inTransaction = false;
    bool m_endedDuringTransaction = false;
};

}  // namespace kelmafeed
