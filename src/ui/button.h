// Buttons: the push buttons (rg_AnNiuJiChuLei, rg_button2) over the platform's button, and
// the owner-drawn button rg_ChaoJiAnNiu with colours, flat style, hot tracking, toggle mode
// and sounds from WAVE resources. User-interface thread only.
#pragma once

#include <windows.h>

#include "ui/container.h"
#include "ui/control.h"
#include "ui/framework/controls.h"

// WAVE resource of the owner-drawn button's built-in sound.
constexpr int kKelBuiltInSound = 29185;

class CKWnd_Button : public CButton {
 public:
  void SetListener(IButtonEventListener* listener) { listener_ = listener; }

  COLORREF textColor = 0;  // 0: black
  COLORREF backColor = kKelSystemFaceColor;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  IButtonEventListener* listener_ = nullptr;
  UniqueBrush backBrush_;
  COLORREF brushColor_ = 0;
};

// Colours of an owner-drawn button in effect (system colours resolved).
struct KelButtonColors {
  COLORREF normalBack;
  COLORREF focusBack;
  COLORREF normalText;
  COLORREF focusText;
  COLORREF hotText;
  COLORREF hotBack;
};

// The owner-drawn platform button: its properties, drawing and hot tracking.
class CKelSupperButton : public CButton {
 public:
  CKelSupperButton();

  bool flat = true;
  bool roundedCorners = false;  // corner diameter 8
  bool drawHotFrame = true;
  bool focusRectWhenFlat = false;
  bool toggleMode = false;
  bool toggled = false;
  bool useSystemColors = true;
  KelButtonColors colors;  // used while useSystemColors is off
  POINT pressedOffset{1, 1};
  bool builtInSound = false;
  int hoverSoundId = 0;
  int clickSoundId = 0;

  // The colours in effect: the defaults while useSystemColors is on.
  KelButtonColors EffectiveColors() const;
  bool IsHot() const { return hot_; }
  // Draws the button in the state of itemState (ODS_*) into dc.
  void Draw(HDC dc, const RECT& rect, UINT itemState) const;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  virtual void OnClicked() {}
  void PlaySoundFor(int soundId) const;

 private:
  bool hot_ = false;
};

class CKWnd_SupperButton : public CKelSupperButton {
 public:
  void SetListener(ISupperButtonEventListener* listener) { listener_ = listener; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnClicked() override;

 private:
  ISupperButtonEventListener* listener_ = nullptr;
};

// Default colours from the system's button face and text: hot/pressed background is the face
// lightened in every channel by the smallest of (32 below 224, else 255 - channel).
KelButtonColors DefaultButtonColors();

// Push button base.
class rg_AnNiuJiChuLei : public CKelWinControl, public IButtonEventListener {
  KEL_DECLARE_CLASS(rg_AnNiuJiChuLei, CKelWinControl)

  rg_AnNiuJiChuLei();
  ~rg_AnNiuJiChuLei() override;

  void SetTextColor(COLORREF color);
  void SetBackColor(COLORREF color);

  // IButtonEventListener
  void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) override { CKelWinControl::OnWindowMessage(msg, wp, lp); }
  void OnClicked() override;

  EventBinding<> onClicked;

 protected:
  CKWnd_Button& ButtonWindow() const;
  bool CreatePlatformWindow(const KelCreateParams& params) override;
  void ConnectListener(bool connect) override;
};

// Push button.
class rg_button2 : public rg_AnNiuJiChuLei {
  KEL_DECLARE_CLASS(rg_button2, rg_AnNiuJiChuLei)

  rg_button2() = default;
};

// Owner-drawn button.
class rg_ChaoJiAnNiu : public CKelWinControl, public ISupperButtonEventListener {
  KEL_DECLARE_CLASS(rg_ChaoJiAnNiu, CKelWinControl)

  rg_ChaoJiAnNiu();
  ~rg_ChaoJiAnNiu() override;

  // Properties live in the platform window object; changes repaint an existing button.
  CKelSupperButton& Properties() const;
  void SetFlat(bool on);
  void SetRoundedCorners(bool on);
  void SetDrawHotFrame(bool on);
  void SetFocusRectWhenFlat(bool on);
  void SetToggleMode(bool on);
  void SetToggled(bool on);
  bool IsToggled() const;
  void SetUseSystemColors(bool on);
  // Turns use-system-colours off.
  void SetColors(const KelButtonColors& colors);
  void SetPressedOffset(int dx, int dy);
  void SetBuiltInSound(bool on);
  void SetSounds(int hoverSoundId, int clickSoundId);

  // ISupperButtonEventListener
  void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) override { CKelWinControl::OnWindowMessage(msg, wp, lp); }
  void OnClicked() override;

  EventBinding<> onClicked;

 protected:
  CKWnd_SupperButton& ButtonWindow() const;
  bool CreatePlatformWindow(const KelCreateParams& params) override;
  void ConnectListener(bool connect) override;
};
