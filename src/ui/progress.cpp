#include "ui/progress.h"

LRESULT CKWnd_ProgressBar::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  return CProgressCtrl::WindowProc(msg, wp, lp);
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
