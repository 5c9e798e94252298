// A small window-object layer over Win32: one C++ object per platform window, attached when
// the window is created (a thread-local CBT hook subclasses it before WM_NCCREATE), found
// again through a process-wide table by handle, and detached on WM_NCDESTROY. A parent that is one of
// these objects reflects WM_COMMAND, WM_NOTIFY, WM_DRAWITEM and WM_CTLCOLOR* to the
// object of the child that sent them, so a control handles its own notifications.
// Owned and called on the thread that created the window; the thin wrappers that only send a
// message (text, styles, list and progress messages) may be called from any thread, where the
// platform turns them into synchronous calls executed by the owner thread.
#pragma once

#include <windows.h>

#include "runtime/text.h"
#include "runtime/win_handles.h"

// Private message asking a window's thread to run waiting work (RunOnWindowThread); its
// wParam names the work by serial, so a stray one finds nothing to run.
constexpr UINT kKelMsgRunWork = 0x9FFE;

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  // Destroys a window that still exists (must run on the window's thread).
  virtual ~CWnd();

  HWND GetSafeHwnd() const { return hwnd_.Get(); }
  bool Exists() const { return hwnd_.Get() != nullptr; }
  // The object attached to a window by this layer, or null.
  static CWnd* FromHandle(HWND window);

  // Creates the platform window and attaches this object to it; false when this object
  // already has a window or the platform refuses. idOrMenu is the control id of a child.
  bool CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                int height, HWND parent, HMENU idOrMenu);
  void DestroyWindow();

  LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const;
  bool PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const;
  void SetWindowText(CWTextRef text) const;
  CWString GetWindowText() const;
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  // Changes the style bits; frameFlags (SWP_*) with a non-zero value refresh the frame.
  bool ModifyStyle(DWORD remove, DWORD add, UINT frameFlags = 0) const;
  bool ModifyStyleEx(DWORD remove, DWORD add, UINT frameFlags = 0) const;
  void SetFont(HFONT font, bool redraw) const;
  void Invalidate(bool erase = true) const;
  bool ShowWindow(int command) const;
  bool EnableWindow(bool enable) const;
  bool IsWindowVisible() const;
  RECT GetClientRect() const;
  RECT GetWindowRect() const;
  int GetDlgCtrlID() const;

  // Runs work on the window's thread and returns once it has run: at once when called there,
  // otherwise inside one synchronous message, so a batch of changes to the window and its
  // children costs one thread switch and at most one repaint instead of one per change.
  // False, with work not run, when the window is gone (or goes before its thread got to it).
  // Callable from any thread; the window's thread must be dispatching messages.
  template <typename Work>
  bool RunOnWindowThread(Work& work) const {
    return RunOnWindowThread([](void* w) { (*static_cast<Work*>(w))(); }, &work);
  }
  bool RunOnWindowThread(void (*work)(void*), void* context) const;
  // Queues work for the window's thread and returns at once; it runs when that thread next
  // dispatches messages, and never once the window is gone. False when it cannot be queued
  // (no window). Callable from any thread; context must stay valid while the window lives.
  bool PostToWindowThread(void (*work)(void*), void* context) const;

 protected:
  // Every message of the window. The default reflects child notifications and then calls
  // the window class's own procedure.
  virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
  // The class procedure the window had before it was attached.
  LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp);
  // A notification the parent received from this window. Return true and set result when
  // handled; msg is the parent's message (WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_CTLCOLOR*).
  virtual bool OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  // Called after the window is gone and the object detached.
  virtual void PostNcDestroy() {}
  // Called once the object is attached, before WM_NCCREATE reaches it.
  virtual void PreSubclassWindow() {}
  // Reflects a child's notification; true when the child's object handled it.
  bool ReflectChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

 private:
  friend struct CWndAccess;
  static LRESULT CALLBACK StaticWindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp);
  void Attach(HWND window);
  void Detach();

  UniqueWindow hwnd_;
  WNDPROC superProc_ = nullptr;
};

// Registers a window class of this layer once per process: default procedure, the given
// class styles and cursor, no background brush. True when the class exists afterwards.
bool RegisterKelWindowClass(const wchar_t* className, UINT classStyle);
