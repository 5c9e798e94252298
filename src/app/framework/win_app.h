// The application framework under the program: one application object per process with the
// four operations a program overrides (initialise instance, pre-translate message, idle, exit
// instance), the message loop that calls them, OLE for the main thread with its message
// filter, and the entry point that runs it all. Everything here belongs to the main
// (user-interface) thread.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <memory>

#include "runtime/win_handles.h"

// The application object's OLE message filter: the program is never busy to callers, calls a
// busy server rejected are retried later without a busy dialog, and messages arriving while
// an outgoing call waits are processed normally, with no not-responding dialog ever (the
// pending-message delay is infinite).
class COleMessageFilter : public IMessageFilter {
 public:
  static constexpr DWORD kRetryDelayMs = 10;

  COleMessageFilter() = default;
  COleMessageFilter(const COleMessageFilter&) = delete;
  COleMessageFilter& operator=(const COleMessageFilter&) = delete;
  virtual ~COleMessageFilter();

  // Makes this the thread's filter; false when COM refused (no OLE on the thread).
  bool Register();
  void Revoke();
  bool IsRegistered() const { return registered_; }

  // IUnknown: the object lives as long as its owner; the counts are not used for lifetime.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // IMessageFilter
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD callType, HTASK caller, DWORD tickCount,
                                             LPINTERFACEINFO info) override;
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK callee, DWORD tickCount, DWORD rejectType) override;
  DWORD STDMETHODCALLTYPE MessagePending(HTASK callee, DWORD tickCount, DWORD pendingType) override;

 private:
  bool registered_ = false;
};

// OLE for the calling thread: uninitialised at destruction when the start succeeded.
class OleSession {
 public:
  OleSession() noexcept : result_(OleInitialize(nullptr)) {}
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
  ~OleSession() {
    if (SUCCEEDED(result_)) OleUninitialize();
  }
  bool Succeeded() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

class CWinAppEx {
 public:
  CWinAppEx();
  CWinAppEx(const CWinAppEx&) = delete;
  CWinAppEx& operator=(const CWinAppEx&) = delete;
  virtual ~CWinAppEx();

  // The application object of the process (the newest one constructed), or null.
  static CWinAppEx* Current();

  // Runs the application: initialise instance, then the message loop, or straight to exit
  // instance when initialisation failed. The result is the process exit code.
  int WinMain(HINSTANCE instance);

  // The framework's own initialisation: nothing to do beyond what WinMain prepared.
  virtual bool InitInstance();
  // The message loop with idle processing; returns ExitInstance()'s result once WM_QUIT came.
  virtual int Run();
  // The framework's own pre-translation: this framework has no accelerators or tool tips of
  // its own, so nothing is handled here.
  virtual bool PreTranslateMessage(MSG* msg);
  // The framework's own idle processing: more wanted for the first call of an idle period.
  virtual bool OnIdle(int32_t count);
  // The framework's own exit processing: OLE goes away; the result is the exit code (the
  // WM_QUIT code after a message loop, -1 when the loop never ran).
  virtual int ExitInstance();

  // OLE for the thread with the application's message filter; false when OLE failed.
  bool InitOle();
  COleMessageFilter& MessageFilter() { return messageFilter_; }

  HINSTANCE InstanceHandle() const { return instance_; }
  // The window whose destruction ends the program (its form posts WM_QUIT).
  HWND MainWindow() const { return mainWindow_; }
  void SetMainWindow(HWND window) { mainWindow_ = window; }

  // Messages that start a new idle period (not mouse moves without movement, paints or the
  // caret's system timer).
  bool IsIdleMessage(const MSG& msg);

 protected:
  // Takes one message off the queue (into msg) and dispatches it; false on WM_QUIT.
  bool PumpMessage(MSG& msg);

 private:
  HINSTANCE instance_ = nullptr;
  HWND mainWindow_ = nullptr;
  int exitCode_ = -1;
  POINT lastMousePoint_{-1, -1};
  UINT lastMouseMessage_ = 0;
  std::unique_ptr<OleSession> ole_;  // made by InitOle, ended by ExitInstance
  COleMessageFilter messageFilter_;
};

// Runs the pre-translation of the application object for the messages that nested message
// loops (the waits that dispatch messages during a download) take off this thread's queue, so
// keyboard and mouse handling of the forms (Escape, drag to move) keeps working there. A
// consumed message is turned into WM_NULL. Lives on the stack of the user-interface thread.
class CKelNestedPreTranslateScope {
 public:
  CKelNestedPreTranslateScope();
  CKelNestedPreTranslateScope(const CKelNestedPreTranslateScope&) = delete;
  CKelNestedPreTranslateScope& operator=(const CKelNestedPreTranslateScope&) = delete;
  ~CKelNestedPreTranslateScope();

 private:
  static LRESULT CALLBACK HookProc(int code, WPARAM wp, LPARAM lp);

  UniqueHook hook_;  // only the outermost scope of a thread holds the hook
};
