#include "app/framework/win_app.h"

#include "runtime/win_handles.h"

namespace {

CWinAppEx* currentApp = nullptr;
// Nested pre-translation scopes open on this thread.
thread_local int nestedScopes = 0;

// The caret's blink timer: not a reason to start idle processing again.
constexpr UINT kSysTimer = 0x0118;

}  // namespace

COleMessageFilter::~COleMessageFilter() { Revoke(); }

bool COleMessageFilter::Register() {
  if (registered_) return true;
  ComPtr<IMessageFilter> previous;
  if (FAILED(CoRegisterMessageFilter(this, previous.Address()))) return false;
  registered_ = true;
  return true;
}

void COleMessageFilter::Revoke() {
  if (!registered_) return;
  ComPtr<IMessageFilter> previous;
  CoRegisterMessageFilter(nullptr, previous.Address());
  registered_ = false;
}

HRESULT STDMETHODCALLTYPE COleMessageFilter::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
    *object = static_cast<IMessageFilter*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

DWORD STDMETHODCALLTYPE COleMessageFilter::HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) {
  return SERVERCALL_ISHANDLED;
}

DWORD STDMETHODCALLTYPE COleMessageFilter::RetryRejectedCall(HTASK, DWORD, DWORD rejectType) {
  return rejectType == SERVERCALL_RETRYLATER ? kRetryDelayMs : static_cast<DWORD>(-1);
}

DWORD STDMETHODCALLTYPE COleMessageFilter::MessagePending(HTASK, DWORD, DWORD) { return PENDINGMSG_WAITDEFPROCESS; }

CWinAppEx::CWinAppEx() { currentApp = this; }

CWinAppEx::~CWinAppEx() {
  if (currentApp == this) currentApp = nullptr;
}

CWinAppEx* CWinAppEx::Current() { return currentApp; }

int CWinAppEx::WinMain(HINSTANCE instance) {
  instance_ = instance;
  if (!InitInstance()) return ExitInstance();
  return Run();
}

bool CWinAppEx::InitInstance() { return true; }

bool CWinAppEx::InitOle() {
  if (ole_) return true;
  auto session = std::make_unique<OleSession>();
  if (!session->Succeeded()) return false;
  ole_ = std::move(session);
  messageFilter_.Register();
  return true;
}

int CWinAppEx::Run() {
  bool idle = true;
  int32_t idleCount = 0;
  for (;;) {
    MSG peek;
    while (idle && !PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) idle = false;
    }
    do {
      MSG msg;
      if (!PumpMessage(msg)) return ExitInstance();
      if (IsIdleMessage(msg)) {
        idle = true;
        idleCount = 0;
      }
    } while (PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE));
  }
}

bool CWinAppEx::PumpMessage(MSG& msg) {
  const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
  if (got == 0) {
    exitCode_ = static_cast<int>(msg.wParam);
    return false;
  }
  if (got == -1) {
    exitCode_ = -1;
    return false;
  }
  if (!PreTranslateMessage(&msg)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool CWinAppEx::IsIdleMessage(const MSG& msg) {
  if (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) {
    const bool same =
        msg.message == lastMouseMessage_ && msg.pt.x == lastMousePoint_.x && msg.pt.y == lastMousePoint_.y;
    lastMouseMessage_ = msg.message;
    lastMousePoint_ = msg.pt;
    return !same;
  }
  return msg.message != WM_PAINT && msg.message != kSysTimer;
}

bool CWinAppEx::PreTranslateMessage(MSG*) { return false; }

bool CWinAppEx::OnIdle(int32_t count) { return count < 1; }

int CWinAppEx::ExitInstance() {
  messageFilter_.Revoke();
  ole_.reset();
  return exitCode_;
}

CKelNestedPreTranslateScope::CKelNestedPreTranslateScope() {
  if (nestedScopes++ == 0) hook_.Reset(SetWindowsHookExW(WH_GETMESSAGE, &HookProc, nullptr, GetCurrentThreadId()));
}

CKelNestedPreTranslateScope::~CKelNestedPreTranslateScope() {
  hook_.Reset();
  --nestedScopes;
}

LRESULT CALLBACK CKelNestedPreTranslateScope::HookProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == PM_REMOVE) {
    MSG* msg = reinterpret_cast<MSG*>(lp);
    CWinAppEx* app = CWinAppEx::Current();
    if (app && msg->message != WM_NULL && app->PreTranslateMessage(msg)) msg->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}
