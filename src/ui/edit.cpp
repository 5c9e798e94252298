#include "ui/edit.h"

#include "ui/container.h"

bool KelInputAccepts(int inputType, wchar_t ch) {
  if (ch < 32 || inputType == kKelInputAny) return true;
  if (ch >= L'0' && ch <= L'9') return true;
  if (ch == L'-') return inputType == kKelInputInteger || inputType == kKelInputDecimal;
  if (ch == L'.') return inputType == kKelInputDecimal;
  return false;
}

LRESULT CKWnd_Edit::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  if (msg == WM_CHAR && !KelInputAccepts(inputType, static_cast<wchar_t>(wp))) {
    MessageBeep(MB_ICONEXCLAMATION);
    return 0;
  }
  return CEdit::WindowProc(msg, wp, lp);
}

bool CKWnd_Edit::OnChildNotify(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wp) == EN_CHANGE) {
    if (listener_) listener_->OnChanged();
    result = 0;
    return true;
  }
  if (msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORSTATIC) {
    HDC dc = reinterpret_cast<HDC>(wp);
    COLORREF back = ResolveKelColor(backColor);
    SetTextColor(dc, textColor);
    SetBkColor(dc, back);
    if (!backBrush_ || brushColor_ != back) {
      backBrush_.Reset(CreateSolidBrush(back));
      brushColor_ = back;
    }
    result = reinterpret_cast<LRESULT>(backBrush_.Get());
    return true;
  }
  return false;
}

rg_edit_box::rg_edit_box() : CKelWinControl(std::make_unique<CKWnd_Edit>()) {
  SetStoredStyle(0, WS_TABSTOP);
  SetStoredExStyle(0, WS_EX_CLIENTEDGE);
  rg_edit_box::ConnectListener(true);
}

rg_edit_box::~rg_edit_box() { rg_edit_box::ConnectListener(false); }

CKWnd_Edit& rg_edit_box::EditWindow() const { return *static_cast<CKWnd_Edit*>(Window()); }

void rg_edit_box::ConnectListener(bool connect) {
  EditWindow().SetListener(connect ? static_cast<IEditEventListener*>(this) : nullptr);
}

bool rg_edit_box::CreatePlatformWindow(const KelCreateParams& params) {
  RECT rect{params.left, params.top, params.left + params.width, params.top + params.height};
  return EditWindow().Create(params.exStyle, params.text, params.style | ES_LEFT | ES_AUTOHSCROLL, rect, params.parent,
                             params.id);
}

void rg_edit_box::SetTextColor(COLORREF color) {
  EditWindow().textColor = color;
  EditWindow().Invalidate(true);
}

void rg_edit_box::SetBackColor(COLORREF color) {
  EditWindow().backColor = color;
  EditWindow().Invalidate(true);
}

void rg_edit_box::SetInputType(int type) { EditWindow().inputType = type; }

void rg_edit_box::OnChanged() { onChanged.Fire(this); }
