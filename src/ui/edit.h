// The edit box rg_edit_box over the platform's edit control: text and background colours,
// an optional input type that rejects other characters with a warning beep, and the change
// event. User-interface thread only (GetText/SetText also from other threads).
#pragma once

#include <windows.h>

#include "ui/control.h"
#include "ui/framework/controls.h"

enum KelInputType : int {
  kKelInputAny = 0,
  kKelInputUnsigned = 1,  // digits
  kKelInputInteger = 2,   // digits and "-"
  kKelInputDecimal = 3,   // digits, "-" and "."
};

// True when the input type accepts the typed character (control characters always pass).
bool KelInputAccepts(int inputType, wchar_t ch);

class CKWnd_Edit : public CEdit {
 public:
  void SetListener(IEditEventListener* listener) { listener_ = listener; }

  COLORREF textColor = 0;
  COLORREF backColor = 0xFFFFFF;
  int inputType = kKelInputAny;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  IEditEventListener* listener_ = nullptr;
  UniqueBrush backBrush_;
  COLORREF brushColor_ = 0;
};

class rg_edit_box : public CKelWinControl, public IEditEventListener {
  KEL_DECLARE_CLASS(rg_edit_box, CKelWinControl)

  rg_edit_box();
  ~rg_edit_box() override;

  void SetTextColor(COLORREF color);
  void SetBackColor(COLORREF color);
  void SetInputType(int type);

  // IEditEventListener
  void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) override { CKelWinControl::OnWindowMessage(msg, wp, lp); }
  void OnChanged() override;

  EventBinding<> onChanged;

 protected:
  CKWnd_Edit& EditWindow() const;
  bool CreatePlatformWindow(const KelCreateParams& params) override;
  void ConnectListener(bool connect) override;
};
