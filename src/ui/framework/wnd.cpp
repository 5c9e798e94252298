#include "ui/framework/wnd.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace {

// The objects attached to windows, by handle. Looked up for every message of our windows
// and every notification they reflect: a window property would do too, but under Wine each
// reading of one is a round trip to the server that also carries the engine's socket work.
class AttachedObjects {
 public:
  static AttachedObjects& Instance() {
    static AttachedObjects instance;
    return instance;
  }
  void Add(HWND window, CWnd* object) {
    std::unique_lock lock(mutex_);
    objects_[window] = object;
  }
  void Remove(HWND window) {
    std::unique_lock lock(mutex_);
    objects_.erase(window);
  }
  CWnd* Find(HWND window) {
    std::shared_lock lock(mutex_);
    auto found = objects_.find(window);
    return found == objects_.end() ? nullptr : found->second;
  }

 private:
  std::shared_mutex mutex_;
  std::unordered_map<HWND, CWnd*> objects_;
};

// Work handed to a window's thread, by serial. The message carries only the serial: one
// naming no waiting work (sent by another program, or after its sender gave up) does nothing.
class WaitingWork {
 public:
  struct Work {
    void (*run)(void*);
    void* context;
  };

  static WaitingWork& Instance() {
    static WaitingWork instance;
    return instance;
  }
  WPARAM Add(Work work) {
    std::lock_guard lock(mutex_);
    const WPARAM serial = ++lastSerial_;
    works_.emplace(serial, work);
    return serial;
  }
  // Takes the work out; false when it is no longer waiting.
  bool Take(WPARAM serial, Work& work) {
    std::lock_guard lock(mutex_);
    auto found = works_.find(serial);
    if (found == works_.end()) return false;
    work = found->second;
    works_.erase(found);
    return true;
  }

 private:
  std::mutex mutex_;
  WPARAM lastSerial_ = 0;
  std::unordered_map<WPARAM, Work> works_;
};

// The object waiting for its window during one CreateEx on this thread.
thread_local CWnd* pendingAttach = nullptr;

class CbtHook {
 public:
  CbtHook() : hook_(SetWindowsHookExW(WH_CBT, &Proc, nullptr, GetCurrentThreadId())) {}
  CbtHook(const CbtHook&) = delete;
  CbtHook& operator=(const CbtHook&) = delete;
  bool Installed() const { return hook_.IsValid(); }

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp);
  UniqueHook hook_;
};

}  // namespace

// Grants the hook access to the private attach step.
struct CWndAccess {
  static void Attach(CWnd* object, HWND window) { object->Attach(window); }
};

namespace {

LRESULT CALLBACK CbtHook::Proc(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND && pendingAttach) {
    const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lp)->lpcs;
    // Only the window our CreateEx asked for: it carries the object as creation parameter.
    if (cs && cs->lpCreateParams == pendingAttach) {
      CWnd* object = pendingAttach;
      pendingAttach = nullptr;
      CWndAccess::Attach(object, reinterpret_cast<HWND>(wp));
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

class PendingAttachScope {
 public:
  explicit PendingAttachScope(CWnd* object) : previous_(pendingAttach) { pendingAttach = object; }
  PendingAttachScope(const PendingAttachScope&) = delete;
  PendingAttachScope& operator=(const PendingAttachScope&) = delete;
  ~PendingAttachScope() { pendingAttach = previous_; }

 private:
  CWnd* previous_;
};

}  // namespace

CWnd::~CWnd() {
  if (hwnd_.Get()) {
    // The window outlives nothing of ours: detach first so no message reaches a half-destroyed
    // object, then destroy it.
    HWND window = hwnd_.Get();
    Detach();
    ::DestroyWindow(window);
  }
}

CWnd* CWnd::FromHandle(HWND window) {
  if (!window) return nullptr;
  return AttachedObjects::Instance().Find(window);
}

void CWnd::Attach(HWND window) {
  hwnd_.Reset(window);
  AttachedObjects::Instance().Add(window, this);
  superProc_ =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticWindowProc)));
  PreSubclassWindow();
}

void CWnd::Detach() {
  HWND window = hwnd_.Release();
  if (!window) return;
  AttachedObjects::Instance().Remove(window);
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)) == &StaticWindowProc) {
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(superProc_));
  }
}

bool CWnd::CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU idOrMenu) {
  if (hwnd_.Get()) return false;
  CbtHook hook;
  if (!hook.Installed()) return false;
  HWND created;
  {
    PendingAttachScope scope(this);
    created = CreateWindowExW(exStyle, className, text, style, x, y, width, height, parent, idOrMenu,
                              GetModuleHandleW(nullptr), this);
  }
  if (!created) {
    // A window destroyed during its own creation has already detached itself.
    return false;
  }
  return hwnd_.Get() == created;
}

void CWnd::DestroyWindow() {
  if (hwnd_.Get()) ::DestroyWindow(hwnd_.Get());
}

bool CWnd::RunOnWindowThread(void (*work)(void*), void* context) const {
  HWND window = hwnd_.Get();
  const DWORD owner = window ? GetWindowThreadProcessId(window, nullptr) : 0;
  if (owner == 0) return false;
  if (owner == GetCurrentThreadId()) {
    work(context);
    return true;
  }
  WaitingWork& waiting = WaitingWork::Instance();
  const WPARAM serial = waiting.Add({work, context});
  ::SendMessageW(window, kKelMsgRunWork, serial, 0);
  // Still waiting: the window went before its thread took the work, and now never will.
  WaitingWork::Work unrun;
  return !waiting.Take(serial, unrun);
}

bool CWnd::PostToWindowThread(void (*work)(void*), void* context) const {
  HWND window = hwnd_.Get();
  if (!window) return false;
  WaitingWork& waiting = WaitingWork::Instance();
  const WPARAM serial = waiting.Add({work, context});
  if (::PostMessageW(window, kKelMsgRunWork, serial, 0)) return true;
  WaitingWork::Work unqueued;
  waiting.Take(serial, unqueued);
  return false;
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  CWnd* object = FromHandle(window);
  if (!object) return ::DefWindowProcW(window, msg, wp, lp);
  if (msg == kKelMsgRunWork) {
    WaitingWork::Work work;
    if (!WaitingWork::Instance().Take(wp, work)) return 0;
    work.run(work.context);
    return 1;
  }
  if (msg == WM_NCDESTROY) {
    LRESULT result = object->WindowProc(msg, wp, lp);
    object->Detach();
    object->PostNcDestroy();
    return result;
  }
  return object->WindowProc(msg, wp, lp);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (ReflectChildNotify(msg, wp, lp, result)) return result;
  return DefWindowProc(msg, wp, lp);
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  HWND window = hwnd_.Get();
  if (superProc_) return CallWindowProcW(superProc_, window, msg, wp, lp);
  return ::DefWindowProcW(window, msg, wp, lp);
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

bool CWnd::ReflectChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  HWND child = nullptr;
  switch (msg) {
    case WM_COMMAND:
      child = reinterpret_cast<HWND>(lp);
      break;
    case WM_NOTIFY:
      if (lp) child = reinterpret_cast<const NMHDR*>(lp)->hwndFrom;
      break;
    case WM_DRAWITEM:
      if (wp && lp) child = reinterpret_cast<const DRAWITEMSTRUCT*>(lp)->hwndItem;
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
      child = reinterpret_cast<HWND>(lp);
      break;
    default:
      return false;
  }
  if (!child || child == hwnd_.Get()) return false;
  CWnd* object = FromHandle(child);
  return object && object->OnChildNotify(msg, wp, lp, result);
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wp, LPARAM lp) const {
  HWND window = hwnd_.Get();
  return window ? ::SendMessageW(window, msg, wp, lp) : 0;
}

bool CWnd::PostMessage(UINT msg, WPARAM wp, LPARAM lp) const {
  HWND window = hwnd_.Get();
  return window && ::PostMessageW(window, msg, wp, lp);
}

void CWnd::SetWindowText(CWTextRef text) const {
  if (!hwnd_.Get()) return;
  CWString copy(text);  // zero-terminated
  ::SetWindowTextW(hwnd_.Get(), copy.GetText());
}

CWString CWnd::GetWindowText() const {
  CWString text;
  HWND window = hwnd_.Get();
  if (!window) return text;
  int n = ::GetWindowTextLengthW(window);
  if (n <= 0) return text;
  wchar_t* buffer = text.GetBufferSetLength(n);
  int got = ::GetWindowTextW(window, buffer, n + 1);
  text.ReleaseBuffer(got > 0 ? got : 0);
  return text;
}

DWORD CWnd::GetStyle() const { return hwnd_.Get() ? static_cast<DWORD>(GetWindowLongPtrW(hwnd_.Get(), GWL_STYLE)) : 0; }

DWORD CWnd::GetExStyle() const {
  return hwnd_.Get() ? static_cast<DWORD>(GetWindowLongPtrW(hwnd_.Get(), GWL_EXSTYLE)) : 0;
}

namespace {

bool ModifyLong(HWND window, int index, DWORD remove, DWORD add, UINT frameFlags) {
  if (!window) return false;
  DWORD old = static_cast<DWORD>(GetWindowLongPtrW(window, index));
  DWORD now = (old & ~remove) | add;
  if (now == old) return false;
  SetWindowLongPtrW(window, index, static_cast<LONG_PTR>(now));
  if (frameFlags) {
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | frameFlags);
  }
  return true;
}

}  // namespace

bool CWnd::ModifyStyle(DWORD remove, DWORD add, UINT frameFlags) const {
  return ModifyLong(hwnd_.Get(), GWL_STYLE, remove, add, frameFlags);
}

bool CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT frameFlags) const {
  return ModifyLong(hwnd_.Get(), GWL_EXSTYLE, remove, add, frameFlags);
}

void CWnd::SetFont(HFONT font, bool redraw) const {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw ? TRUE : FALSE);
}

void CWnd::Invalidate(bool erase) const {
  if (hwnd_.Get()) InvalidateRect(hwnd_.Get(), nullptr, erase ? TRUE : FALSE);
}

bool CWnd::ShowWindow(int command) const { return hwnd_.Get() && ::ShowWindow(hwnd_.Get(), command); }

bool CWnd::EnableWindow(bool enable) const { return hwnd_.Get() && ::EnableWindow(hwnd_.Get(), enable ? TRUE : FALSE); }

bool CWnd::IsWindowVisible() const { return hwnd_.Get() && ::IsWindowVisible(hwnd_.Get()); }

RECT CWnd::GetClientRect() const {
  RECT rect{};
  if (hwnd_.Get()) ::GetClientRect(hwnd_.Get(), &rect);
  return rect;
}

RECT CWnd::GetWindowRect() const {
  RECT rect{};
  if (hwnd_.Get()) ::GetWindowRect(hwnd_.Get(), &rect);
  return rect;
}

int CWnd::GetDlgCtrlID() const { return hwnd_.Get() ? ::GetDlgCtrlID(hwnd_.Get()) : 0; }

bool RegisterKelWindowClass(const wchar_t* className, UINT classStyle) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, className, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = classStyle;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = className;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
