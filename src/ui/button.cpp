#include "ui/button.h"

#include <mmsystem.h>

#include <algorithm>

#include "ui/image.h"

namespace {

constexpr DWORD kButtonRecordStyle = WS_TABSTOP | BS_MULTILINE;  // 0x12000
constexpr int kRoundCornerDiameter = 8;

HBRUSH ColorBrush(UniqueBrush& brush, COLORREF& brushColor, COLORREF wanted) {
  if (!brush || brushColor != wanted) {
    brush.Reset(CreateSolidBrush(wanted));
    brushColor = wanted;
  }
  return brush.Get();
}

}  // namespace

KelButtonColors DefaultButtonColors() {
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  COLORREF text = GetSysColor(COLOR_BTNTEXT);
  auto lift = [](int channel) { return channel < 224 ? 32 : 255 - channel; };
  int g = std::min({lift(GetRValue(face)), lift(GetGValue(face)), lift(GetBValue(face))});
  COLORREF hot = RGB(GetRValue(face) + g, GetGValue(face) + g, GetBValue(face) + g);
  return KelButtonColors{face, face, text, text, text, hot};
}

LRESULT CKWnd_Button::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  return CButton::WindowProc(msg, wp, lp);
}

bool CKWnd_Button::OnChildNotify(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
    if (listener_) listener_->OnClicked();
    result = 0;
    return true;
  }
  if (msg == WM_CTLCOLORBTN) {
    HDC dc = reinterpret_cast<HDC>(wp);
    COLORREF back = ResolveKelColor(backColor);
    ::SetTextColor(dc, textColor);
    SetBkColor(dc, back);
    result = reinterpret_cast<LRESULT>(ColorBrush(backBrush_, brushColor_, back));
    return true;
  }
  return false;
}

CKelSupperButton::CKelSupperButton() : colors(DefaultButtonColors()) {}

KelButtonColors CKelSupperButton::EffectiveColors() const { return useSystemColors ? DefaultButtonColors() : colors; }

void CKelSupperButton::PlaySoundFor(int soundId) const {
  int resource = builtInSound ? kKelBuiltInSound : soundId;
  if (resource == 0) return;
  PlaySoundW(MAKEINTRESOURCEW(resource), ResourceModule(), SND_RESOURCE | SND_ASYNC | SND_NODEFAULT | SND_NOWAIT);
}

void CKelSupperButton::Draw(HDC dc, const RECT& rect, UINT itemState) const {
  KelButtonColors c = EffectiveColors();
  bool pressed = (itemState & ODS_SELECTED) != 0 || (toggleMode && toggled);
  bool focused = (itemState & ODS_FOCUS) != 0;
  bool disabled = (itemState & ODS_DISABLED) != 0;
  bool lit = hot_ || pressed;
  RECT r = rect;

  if (!flat) {
    if (focused || (itemState & ODS_DEFAULT)) {
      FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      InflateRect(&r, -1, -1);
    }
    if (pressed) {
      UniqueBrush shadow(CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW)));
      FrameRect(dc, &r, shadow.Get());
      InflateRect(&r, -1, -1);
    } else {
      DrawEdge(dc, &r, EDGE_RAISED, BF_RECT | BF_ADJUST);
    }
  }

  if (lit) {
    UniqueBrush back(CreateSolidBrush(c.hotBack));
    if (roundedCorners) {
      SelectedObject brush(dc, back.Get());
      SelectedObject pen(dc, GetStockObject(BLACK_PEN));
      RoundRect(dc, r.left, r.top, r.right, r.bottom, kRoundCornerDiameter, kRoundCornerDiameter);
    } else {
      FillRect(dc, &r, back.Get());
    }
  } else {
    UniqueBrush back(CreateSolidBrush(focused ? c.focusBack : c.normalBack));
    FillRect(dc, &r, back.Get());
  }
  if (flat && drawHotFrame && lit) {
    RECT frame = r;
    DrawEdge(dc, &frame, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
  }

  CWString text = GetWindowText();
  HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
  SelectedObject selectedFont(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
  int oldMode = SetBkMode(dc, TRANSPARENT);
  RECT textRect = r;
  if (pressed && !toggleMode) OffsetRect(&textRect, pressedOffset.x, pressedOffset.y);
  constexpr UINT kTextFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
  if (disabled) {
    RECT light = textRect;
    OffsetRect(&light, 1, 1);
    ::SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
    DrawTextW(dc, text.GetText(), -1, &light, kTextFormat);
    ::SetTextColor(dc, GetSysColor(COLOR_3DSHADOW));
    DrawTextW(dc, text.GetText(), -1, &textRect, kTextFormat);
  } else {
    ::SetTextColor(dc, lit ? c.hotText : (focused ? c.focusText : c.normalText));
    DrawTextW(dc, text.GetText(), -1, &textRect, kTextFormat);
  }
  SetBkMode(dc, oldMode);

  if (focused && (!flat || focusRectWhenFlat)) {
    RECT focus = rect;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
}

LRESULT CKelSupperButton::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MOUSEMOVE:
      if (flat && !hot_ && !(wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) {
        hot_ = true;
        Invalidate(false);
        PlaySoundFor(hoverSoundId);
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, GetSafeHwnd(), 0};
        TrackMouseEvent(&track);
      }
      break;
    case WM_MOUSELEAVE:
      if (hot_) {
        hot_ = false;
        Invalidate(false);
      }
      break;
    case WM_ERASEBKGND:
      return 1;  // the owner drawing covers everything
    default:
      break;
  }
  return CButton::WindowProc(msg, wp, lp);
}

bool CKelSupperButton::OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (msg == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
    Draw(item->hDC, item->rcItem, item->itemState);
    result = TRUE;
    return true;
  }
  if (msg == WM_COMMAND && (HIWORD(wp) == BN_CLICKED || HIWORD(wp) == BN_DOUBLECLICKED)) {
    PlaySoundFor(clickSoundId);
    if (toggleMode) {
      toggled = !toggled;
      Invalidate(false);
    }
    OnClicked();
    result = 0;
    return true;
  }
  return false;
}

LRESULT CKWnd_SupperButton::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  return CKelSupperButton::WindowProc(msg, wp, lp);
}

void CKWnd_SupperButton::OnClicked() {
  if (listener_) listener_->OnClicked();
}

rg_AnNiuJiChuLei::rg_AnNiuJiChuLei() : CKelWinControl(std::make_unique<CKWnd_Button>()) {
  SetStoredStyle(0, kButtonRecordStyle);
  rg_AnNiuJiChuLei::ConnectListener(true);
}

rg_AnNiuJiChuLei::~rg_AnNiuJiChuLei() { rg_AnNiuJiChuLei::ConnectListener(false); }

CKWnd_Button& rg_AnNiuJiChuLei::ButtonWindow() const { return *static_cast<CKWnd_Button*>(Window()); }

void rg_AnNiuJiChuLei::ConnectListener(bool connect) {
  ButtonWindow().SetListener(connect ? static_cast<IButtonEventListener*>(this) : nullptr);
}

bool rg_AnNiuJiChuLei::CreatePlatformWindow(const KelCreateParams& params) {
  RECT rect{params.left, params.top, params.left + params.width, params.top + params.height};
  return ButtonWindow().Create(params.exStyle, params.text, params.style | BS_PUSHBUTTON, rect, params.parent,
                               params.id);
}

void rg_AnNiuJiChuLei::SetTextColor(COLORREF color) {
  ButtonWindow().textColor = color;
  ButtonWindow().Invalidate(true);
}

void rg_AnNiuJiChuLei::SetBackColor(COLORREF color) {
  ButtonWindow().backColor = color;
  ButtonWindow().Invalidate(true);
}

void rg_AnNiuJiChuLei::OnClicked() { onClicked.Fire(this); }

rg_ChaoJiAnNiu::rg_ChaoJiAnNiu() : CKelWinControl(std::make_unique<CKWnd_SupperButton>()) {
  SetStoredStyle(0, kButtonRecordStyle);
  rg_ChaoJiAnNiu::ConnectListener(true);
}

rg_ChaoJiAnNiu::~rg_ChaoJiAnNiu() { rg_ChaoJiAnNiu::ConnectListener(false); }

CKWnd_SupperButton& rg_ChaoJiAnNiu::ButtonWindow() const { return *static_cast<CKWnd_SupperButton*>(Window()); }

CKelSupperButton& rg_ChaoJiAnNiu::Properties() const { return ButtonWindow(); }

void rg_ChaoJiAnNiu::ConnectListener(bool connect) {
  ButtonWindow().SetListener(connect ? static_cast<ISupperButtonEventListener*>(this) : nullptr);
}

bool rg_ChaoJiAnNiu::CreatePlatformWindow(const KelCreateParams& params) {
  RECT rect{params.left, params.top, params.left + params.width, params.top + params.height};
  return ButtonWindow().Create(params.exStyle, params.text, params.style | BS_OWNERDRAW, rect, params.parent,
                               params.id);
}

void rg_ChaoJiAnNiu::SetFlat(bool on) {
  Properties().flat = on;
  ButtonWindow().Invalidate(false);
}

void rg_ChaoJiAnNiu::SetRoundedCorners(bool on) {
  Properties().roundedCorners = on;
  ButtonWindow().Invalidate(false);
}

void rg_ChaoJiAnNiu::SetDrawHotFrame(bool on) {
  Properties().drawHotFrame = on;
  ButtonWindow().Invalidate(false);
}

void rg_ChaoJiAnNiu::SetFocusRectWhenFlat(bool on) {
  Properties().focusRectWhenFlat = on;
  ButtonWindow().Invalidate(false);
}

void rg_ChaoJiAnNiu::SetToggleMode(bool on) {
  Properties().toggleMode = on;
  ButtonWindow().Invalidate(false);
}

void rg_ChaoJiAnNiu::SetToggled(bool on) {
  Properties().toggled = on;
  ButtonWindow().Invalidate(false);
}

bool rg_ChaoJiAnNiu::IsToggled() const { return Properties().toggled; }

void rg_ChaoJiAnNiu::SetUseSystemColors(bool on) {
  Properties().useSystemColors = on;
  ButtonWindow().Invalidate(false);
}

void rg_ChaoJiAnNiu::SetColors(const KelButtonColors& colors) {
  Properties().colors = colors;
  Properties().useSystemColors = false;
  ButtonWindow().Invalidate(false);
}

void rg_ChaoJiAnNiu::SetPressedOffset(int dx, int dy) { Properties().pressedOffset = POINT{dx, dy}; }

void rg_ChaoJiAnNiu::SetBuiltInSound(bool on) { Properties().builtInSound = on; }

void rg_ChaoJiAnNiu::SetSounds(int hoverSoundId, int clickSoundId) {
  Properties().hoverSoundId = hoverSoundId;
  Properties().clickSoundId = clickSoundId;
}

void rg_ChaoJiAnNiu::OnClicked() { onClicked.Fire(this); }
