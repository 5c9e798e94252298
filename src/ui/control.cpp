#include "ui/control.h"

#include "ui/font.h"

bool IsInputMessage(UINT msg) {
  return (msg >= WM_KEYFIRST && msg <= WM_KEYLAST) || (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) ||
         msg == WM_SETFOCUS || msg == WM_KILLFOCUS;
}

LRESULT CKWnd_Window::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  return CWnd::WindowProc(msg, wp, lp);
}

CKelWinControl::CKelWinControl() : CKelWinControl(std::make_unique<CKWnd_Window>()) {
  genericWindow_ = static_cast<CKWnd_Window*>(Window());
  genericWindow_->SetListener(this);
}

CKelWinControl::CKelWinControl(std::unique_ptr<CWnd> window) : CKelRefObject(new CMfcWndObject(std::move(window))) {}

CKelWinControl::~CKelWinControl() { CKelWinControl::ConnectListener(false); }

CMfcWndObject& CKelWinControl::Record() const { return *static_cast<CMfcWndObject*>(Inner()); }

CWnd* CKelWinControl::Window() const { return Record().window.get(); }

HWND CKelWinControl::GetHwnd() const { return Window()->GetSafeHwnd(); }

void CKelWinControl::ConnectListener(bool connect) {
  // Only the generic control's own window object; subclasses connect theirs.
  if (genericWindow_) genericWindow_->SetListener(connect ? this : nullptr);
}

void CKelWinControl::RegisterListener() {
  listening_ = true;
  ConnectListener(true);
}

void CKelWinControl::UnregisterListener() {
  listening_ = false;
  ConnectListener(false);
}

bool CKelWinControl::Create(KelCreateParams params) {
  if (HasWindow()) return false;
  ComputeStyles(params);
  ComputeSizeAndPosition(params);
  if (!CreatePlatformWindow(params)) return false;
  AfterCreate(params);
  return true;
}

bool CKelWinControl::Create(HWND parent, CKelWinControl* parentControl, int left, int top, int width, int height,
                            int id, CWTextRef text, DWORD style, DWORD exStyle) {
  KelCreateParams params;
  params.parent = parent;
  params.parentControl = parentControl;
  params.left = left;
  params.top = top;
  params.width = width;
  params.height = height;
  params.id = id;
  params.text = CWString(text);
  params.style = style;
  params.exStyle = exStyle;
  return Create(std::move(params));
}

void CKelWinControl::ComputeStyles(KelCreateParams& params) {
  CMfcWndObject& record = Record();
  if (params.text.IsEmpty()) {
    params.text = record.text;
  } else {
    record.text = params.text;
  }
  params.style |= record.style;
  params.exStyle |= record.exStyle;
  if (params.parent) {
    params.style |= WS_CHILD;
  } else {
    params.style &= ~WS_CHILD;
  }
  if (!params.font && !record.font) record.font = CreateDefaultControlFont();
}

void CKelWinControl::ComputeSizeAndPosition(KelCreateParams& params) {
  if (params.left == kKelUseDefault) params.left = 0;
  if (params.top == kKelUseDefault) params.top = 0;
  if (params.width == kKelUseDefault) params.width = 0;
  if (params.height == kKelUseDefault) params.height = 0;
}

bool CKelWinControl::CreatePlatformWindow(const KelCreateParams& params) {
  static constexpr wchar_t kClass[] = L"KelWindow";
  if (!RegisterKelWindowClass(kClass, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW)) return false;
  HMENU idOrMenu = params.parent ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(params.id)) : params.menu;
  return Window()->CreateEx(params.exStyle, kClass, params.text.GetText(), params.style, params.left, params.top,
                            params.width, params.height, params.parent, idOrMenu);
}

void CKelWinControl::AfterCreate(const KelCreateParams& params) {
  CWnd* window = Window();
  HFONT font = params.font ? params.font : Record().font.Get();
  if (font) window->SetFont(font, false);
  constexpr LRESULT kWantsKeys = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_WANTCHARS;
  if ((window->SendMessage(WM_GETDLGCODE) & kWantsKeys) && !(params.style & WS_TABSTOP)) {
    window->ModifyStyle(0, WS_TABSTOP);
  }
  if ((window->GetStyle() & WS_BORDER) && !(params.style & WS_BORDER)) {
    window->ModifyStyle(WS_BORDER, 0, SWP_FRAMECHANGED);
  }
  if (!params.parent && params.menu) SetMenu(window->GetSafeHwnd(), params.menu);
}

void CKelWinControl::DispatchMessage(UINT msg, WPARAM wp, LPARAM lp) { onMessage.Fire(this, msg, wp, lp); }

void CKelWinControl::OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (listening_) DispatchMessage(msg, wp, lp);
}

void CKelWinControl::SetText(CWTextRef text) {
  CWnd* window = Window();
  if (window->Exists()) {
    window->SetWindowText(text);
    if (!IsContainer()) window->Invalidate(true);
  } else {
    Record().text = CWString(text);
  }
}

CWString CKelWinControl::GetText() const {
  CWnd* window = Window();
  return window->Exists() ? window->GetWindowText() : Record().text;
}

void CKelWinControl::Show() {
  if (HasWindow()) {
    Window()->ShowWindow(SW_SHOW);
  } else {
    Record().style |= WS_VISIBLE;
  }
}

void CKelWinControl::Hide() {
  if (HasWindow()) {
    Window()->ShowWindow(SW_HIDE);
  } else {
    Record().style &= ~WS_VISIBLE;
  }
}

bool CKelWinControl::IsVisible() const {
  if (HasWindow()) return (Window()->GetStyle() & WS_VISIBLE) != 0;
  return (Record().style & WS_VISIBLE) != 0;
}

void CKelWinControl::Enable() {
  if (HasWindow()) {
    Window()->EnableWindow(true);
  } else {
    Record().style &= ~WS_DISABLED;
  }
}

void CKelWinControl::Disable() {
  if (HasWindow()) {
    Window()->EnableWindow(false);
  } else {
    Record().style |= WS_DISABLED;
  }
}

bool CKelWinControl::IsEnabled() const {
  if (HasWindow()) return IsWindowEnabled(GetHwnd()) != FALSE;
  return (Record().style & WS_DISABLED) == 0;
}

bool CKelWinControl::SetFontDescription(CWTextRef description) {
  LOGFONTW logFont = ParseFontDescription(description);
  UniqueFont font(CreateFontIndirectW(&logFont));
  if (!font) return false;
  if (HasWindow()) Window()->SetFont(font.Get(), true);
  // The window uses the new font before the old one goes.
  Record().font = std::move(font);
  return true;
}

HFONT CKelWinControl::GetFont() const {
  if (HasWindow()) return reinterpret_cast<HFONT>(Window()->SendMessage(WM_GETFONT));
  return Record().font.Get();
}

DWORD CKelWinControl::GetStoredStyle() const { return Record().style; }

DWORD CKelWinControl::GetStoredExStyle() const { return Record().exStyle; }

void CKelWinControl::SetStoredStyle(DWORD remove, DWORD add) { Record().style = (Record().style & ~remove) | add; }

void CKelWinControl::SetStoredExStyle(DWORD remove, DWORD add) {
  Record().exStyle = (Record().exStyle & ~remove) | add;
}
