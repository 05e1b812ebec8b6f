// A small application framework in the manner of the classic Windows class libraries: an
// application object whose InitInstance runs once, modal and modeless dialogs from templates,
// static message tables that bind messages, control notifications and command ids to member
// handlers, and command-line walking. Only what this program uses is here.
#pragma once

#include <windows.h>

#include <string>

namespace framework {

// ---------------------------------------------------------------------------------------------
// Message tables
class CCmdTarget;

// How a table entry's handler is called.
enum class HandlerSig {
    kEnd,           // terminates a table
    kVoid,          // void Handler()
    kTimer,         // void Handler(UINT_PTR id)
    kMouse,         // void Handler(UINT flags, POINT point)
    kQueryDragIcon  // HCURSOR Handler()
};

// One binding of a message to a handler; only the handler field named by sig is set.
struct MessageEntry {
    UINT message;  // WM_xxx
    UINT code;     // notification code, for WM_COMMAND
    UINT id;       // control or command id, for WM_COMMAND
    HandlerSig sig;
    void (CCmdTarget::*onVoid)();
    void (CCmdTarget::*onTimer)(UINT_PTR);
    void (CCmdTarget::*onMouse)(UINT, POINT);
    HCURSOR (CCmdTarget::*onQueryDragIcon)();
};

struct MessageMap {
    const MessageMap* (*getBaseMap)();  // nullptr at the root
    const MessageEntry* entries;
};

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    // Finds the entry for a message in this object's table or its base classes' tables.
    const MessageEntry* FindEntry(UINT message, WPARAM wParam) const;
    // Calls the handler of an entry; returns its result (only kQueryDragIcon has one).
    LRESULT CallHandler(const MessageEntry& entry, WPARAM wParam, LPARAM lParam);

    static const MessageMap* GetThisMessageMap();

protected:
    virtual const MessageMap* GetMessageMap() const { return GetThisMessageMap(); }
};

#define DECLARE_MESSAGE_MAP()                                  \
public:                                                        \
    static const ::framework::MessageMap* GetThisMessageMap(); \
                                                               \
protected:                                                     \
    const ::framework::MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                       \
    const ::framework::MessageMap* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                                  \
    }                                                                \
    const ::framework::MessageMap* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;                 \
        using TheBaseClass = baseClass;                              \
        static const ::framework::MessageEntry entries[] = {
#define END_MESSAGE_MAP()                                                                   \
    { 0, 0, 0, ::framework::HandlerSig::kEnd, nullptr, nullptr, nullptr, nullptr }          \
    }                                                                                       \
    ;                                                                                       \
    static const ::framework::MessageMap map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                                            \
    }

#define ON_WM_PAINT()                                                       \
    {WM_PAINT,                                                              \
     0,                                                                     \
     0,                                                                     \
     ::framework::HandlerSig::kVoid,                                        \
     static_cast<void (::framework::CCmdTarget::*)()>(&ThisClass::OnPaint), \
     nullptr,                                                               \
     nullptr,                                                               \
     nullptr},
#define ON_WM_QUERYDRAGICON()                 \
    {WM_QUERYDRAGICON,                        \
     0,                                       \
     0,                                       \
     ::framework::HandlerSig::kQueryDragIcon, \
     nullptr,                                 \
     nullptr,                                 \
     nullptr,                                 \
     static_cast<HCURSOR (::framework::CCmdTarget::*)()>(&ThisClass::OnQueryDragIcon)},
#define ON_WM_TIMER()                                                                         \
    {WM_TIMER, 0,                                                                             \
     0,        ::framework::HandlerSig::kTimer,                                               \
     nullptr,  static_cast<void (::framework::CCmdTarget::*)(UINT_PTR)>(&ThisClass::OnTimer), \
     nullptr,  nullptr},
#define ON_WM_LBUTTONDBLCLK()                                                                  \
    {WM_LBUTTONDBLCLK,                                                                         \
     0,                                                                                        \
     0,                                                                                        \
     ::framework::HandlerSig::kMouse,                                                          \
     nullptr,                                                                                  \
     nullptr,                                                                                  \
     static_cast<void (::framework::CCmdTarget::*)(UINT, POINT)>(&ThisClass::OnLButtonDblClk), \
     nullptr},
// A WM_COMMAND with the given notification code from the given control or command id.
#define ON_CONTROL(code, id, member)                                       \
    {WM_COMMAND,                                                           \
     (code),                                                               \
     (id),                                                                 \
     ::framework::HandlerSig::kVoid,                                       \
     static_cast<void (::framework::CCmdTarget::*)()>(&ThisClass::member), \
     nullptr,                                                              \
     nullptr,                                                              \
     nullptr},
#define ON_BN_CLICKED(id, member) ON_CONTROL(BN_CLICKED, id, member)
#define ON_CBN_SELCHANGE(id, member) ON_CONTROL(CBN_SELCHANGE, id, member)
#define ON_COMMAND(id, member) ON_CONTROL(0, id, member)

// ---------------------------------------------------------------------------------------------
// Windows
class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

    // Asks for the platform's default processing of the message being handled; it runs when
    // the handler returns.
    void Default() { m_defaultRequested = true; }

protected:
    bool m_defaultRequested = false;
};

class CDataExchange {
public:
    explicit CDataExchange(bool saveAndValidate) : m_bSaveAndValidate(saveAndValidate) {}
    bool m_bSaveAndValidate;
};

class CDialog : public CWnd {
public:
    CDialog(UINT templateId, CWnd* parent);
    ~CDialog() override;

    // Runs the dialog modally; returns the result given to EndDialog, or -1 when the window
    // could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modelessly (used by tests, which then pump messages themselves).
    BOOL Create(CWnd* parent = nullptr);
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    UINT TemplateId() const { return m_templateId; }

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleInitDialog();
    HWND OwnerWindow() const;
    void CenterOverOwner();

    UINT m_templateId;
    CWnd* m_pParentWnd;
    bool m_modal = false;
};

// ---------------------------------------------------------------------------------------------
// Command line
class CCommandLineInfo {
public:
    virtual ~CCommandLineInfo() = default;
    // Called once per argument; pszParam lacks the switch character when bFlag is TRUE.
    virtual void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast);
};

// ---------------------------------------------------------------------------------------------
// Application
class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // Walks the process's command line and hands each argument to info.ParseParam.
    void ParseCommandLine(CCommandLineInfo& info);
    // Walks the given command line (program name first); used by tests.
    static void ParseCommandLine(CCommandLineInfo& info, const char* commandLine);

    // The classic 3-D look of dialog controls is the platform's own for programs of this era;
    // this keeps the name of the switch and makes sure the common controls are loaded.
    void Enable3dControlsStatic();

    void OnHelp();  // no help content is supplied

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// Entry routine: runs InitInstance once, then ExitInstance; returns the exit status.
int AfxWinMain(HINSTANCE instance);

}  // namespace framework
