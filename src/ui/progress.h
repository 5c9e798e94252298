// The progress bar rg_process_bar over the platform's progress control: range, position
// (stored while no window exists), vertical orientation, and its text drawn centred over the
// bar (the platform's control keeps a text but never shows it). The range is set on the
// user-interface thread; SetPosition and GetPosition may also be called from another thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "ui/control.h"
#include "ui/framework/controls.h"

class CKWnd_ProgressBar : public CProgressCtrl {
 public:
  void SetListener(IBaseEventListener* listener) { listener_ = listener; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  // The control's picture and the text over it, into dc.
  void PrintWithText(HDC dc);
  void PaintWithText();

  IBaseEventListener* listener_ = nullptr;
};

class rg_process_bar : public CKelWinControl {
  KEL_DECLARE_CLASS(rg_process_bar, CKelWinControl)

  rg_process_bar();
  ~rg_process_bar() override;

  // Each sends PBM_SETRANGE32 keeping the other bound.
  void SetMinimum(int value);
  void SetMaximum(int value);
  int GetMinimum() const { return minimum_; }
  int GetMaximum() const { return maximum_; }
  void SetPosition(int value);
  int GetPosition() const;
  // Before creation only.
  void SetVertical(bool on);

 protected:
  CKWnd_ProgressBar& BarWindow() const;
  bool CreatePlatformWindow(const KelCreateParams& params) override;
  void ConnectListener(bool connect) override;

 private:
  int minimum_ = 0;
  int maximum_ = 100;
  std::atomic<int> position_{0};
};
