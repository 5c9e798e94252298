#include "ui/progress.h"

#include <string>

#include "runtime/win_handles.h"

LRESULT CKWnd_ProgressBar::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  switch (msg) {
    case WM_PAINT:
      if (wp != 0 || ::GetWindowTextLengthW(GetSafeHwnd()) == 0) break;
      PaintWithText();
      return 0;
    case WM_PRINTCLIENT:
      PrintWithText(reinterpret_cast<HDC>(wp));
      return 0;
    case WM_SETTEXT: {
      const LRESULT result = CProgressCtrl::WindowProc(msg, wp, lp);
      InvalidateRect(GetSafeHwnd(), nullptr, FALSE);
      return result;
    }
    default:
      break;
  }
  return CProgressCtrl::WindowProc(msg, wp, lp);
}

void CKWnd_ProgressBar::PrintWithText(HDC dc) {
  CProgressCtrl::WindowProc(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  const int length = ::GetWindowTextLengthW(GetSafeHwnd());
  if (length == 0) return;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(GetSafeHwnd(), text.data(), length + 1)));
  RECT client{};
  ::GetClientRect(GetSafeHwnd(), &client);
  HFONT font = reinterpret_cast<HFONT>(CProgressCtrl::WindowProc(WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const HGDIOBJ oldFont = SelectObject(dc, font);
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  // Dark text in a light halo reads on the filled part and on the empty part alike, in any
  // colours the theme gives them.
  constexpr UINT kFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
  const COLORREF oldColor = SetTextColor(dc, RGB(255, 255, 255));
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      if (dx == 0 && dy == 0) continue;
      RECT shifted = client;
      OffsetRect(&shifted, dx, dy);
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &shifted, kFormat);
    }
  }
  SetTextColor(dc, RGB(0, 0, 0));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, kFormat);
  SetTextColor(dc, oldColor);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
}

void CKWnd_ProgressBar::PaintWithText() {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(GetSafeHwnd(), &paint);
  RECT client{};
  ::GetClientRect(GetSafeHwnd(), &client);
  const int width = client.right - client.left, height = client.bottom - client.top;
  // Drawn off screen and copied once: the bar and then its text on screen would flicker.
  const UniqueDc memory(CreateCompatibleDC(dc));
  const UniqueBitmap picture(CreateCompatibleBitmap(dc, width, height));
  if (memory && picture) {
    const HGDIOBJ old = SelectObject(memory.Get(), picture.Get());
    PrintWithText(memory.Get());
    BitBlt(dc, 0, 0, width, height, memory.Get(), 0, 0, SRCCOPY);
    SelectObject(memory.Get(), old);
  }
  EndPaint(GetSafeHwnd(), &paint);
}

rg_process_bar::rg_process_bar() : CKelWinControl(std::make_unique<CKWnd_ProgressBar>()) {
  rg_process_bar::ConnectListener(true);
}

rg_process_bar::~rg_process_bar() { rg_process_bar::ConnectListener(false); }

CKWnd_ProgressBar& rg_process_bar::BarWindow() const { return *static_cast<CKWnd_ProgressBar*>(Window()); }

void rg_process_bar::ConnectListener(bool connect) {
  BarWindow().SetListener(connect ? static_cast<IBaseEventListener*>(this) : nullptr);
}

bool rg_process_bar::CreatePlatformWindow(const KelCreateParams& params) {
  RECT rect{params.left, params.top, params.left + params.width, params.top + params.height};
  if (!BarWindow().Create(params.exStyle, params.style, rect, params.parent, params.id)) return false;
  BarWindow().SetRange32(minimum_, maximum_);
  BarWindow().SetPos(position_.load());
  return true;
}

void rg_process_bar::SetMinimum(int value) {
  minimum_ = value;
  if (HasWindow()) BarWindow().SetRange32(minimum_, maximum_);
}

void rg_process_bar::SetMaximum(int value) {
  maximum_ = value;
  if (HasWindow()) BarWindow().SetRange32(minimum_, maximum_);
}

void rg_process_bar::SetPosition(int value) {
  position_.store(value);
  if (HasWindow()) BarWindow().SetPos(value);
}

int rg_process_bar::GetPosition() const { return HasWindow() ? BarWindow().GetPos() : position_.load(); }

void rg_process_bar::SetVertical(bool on) { SetStoredStyle(on ? 0 : PBS_VERTICAL, on ? PBS_VERTICAL : 0); }
