// The form: a top-level (or child) toolkit window of class "KelWinForm" with its title,
// border style, boxes, position state, window shape, icon, drag to move, close on Escape and
// its own pre-translation of messages (reached through kKelMsgPreTranslate). A subclass
// creates its child controls in CreateChildren, which runs while the platform window is
// being created, before the created event fires. User-interface thread only.
#pragma once

#include <windows.h>

#include "ui/container.h"

// Title a form with a control box gets when its title is empty.
extern const wchar_t kKelDefaultFormTitle[];

enum KelBorderStyle : int {
  kKelBorderNone = 0,
  kKelBorderSizable = 1,
  kKelBorderFixed = 2,
  kKelBorderSizableTool = 3,
  kKelBorderFixedTool = 4,
  kKelBorderSizableSunken = 5,
  kKelBorderFixedSunken = 6,
};

enum KelPositionState : int {
  kKelPositionNormal = 0,
  kKelPositionCentred = 1,
  kKelPositionMinimised = 2,
  kKelPositionMaximised = 3,
};

enum KelWindowShape : int {
  kKelShapeRectangle = 0,
  kKelShapeEllipse = 1,
  kKelShapeRoundRect = 2,
};

class CKelWinForm;

// Posted by a form to itself at its creation; its arrival fires the shown event.
constexpr UINT kKelMsgFormShown = 0xA000;

class CKWnd_WinForm : public CKWnd_Container {
 public:
  void SetFormListener(IWinFormEventListener* listener) { formListener_ = listener; }

  // The form's own pre-translation; true when the message was consumed.
  bool PreTranslate(MSG* msg);

  CWString customClassName;
  CWString helpFile;
  DWORD helpContext = 0;
  bool closeOnEscape = true;
  bool dragToMove = false;
  // Posts WM_QUIT when the window is destroyed (the program's main window).
  bool quitOnDestroy = false;

 protected:
  const wchar_t* ClassName() const override;
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  IWinFormEventListener* formListener_ = nullptr;
  bool activatedOnce_ = false;
};

class CKelWinForm : public rg_ZuJianBuJuQi, public IWinFormEventListener {
  KEL_DECLARE_CLASS(CKelWinForm, rg_ZuJianBuJuQi)

  CKelWinForm();
  ~CKelWinForm() override;

  // Size of the client area when created with the default size; below 1 gives 0.
  virtual int DesignWidth() const { return 0; }
  virtual int DesignHeight() const { return 0; }
  // Creates the child controls; runs inside the platform window's creation.
  virtual void CreateChildren() {}

  // Top-level form with the default position and size.
  bool CreateTopLevel();

  void ComputeStyles(KelCreateParams& params) override;
  void ComputeSizeAndPosition(KelCreateParams& params) override;
  void AfterCreate(const KelCreateParams& params) override;

  void SetTitle(CWTextRef title);  // the form's text; re-applies the border
  CWString GetTitle() const { return GetText(); }
  void SetBorderStyle(int style);
  void SetControlBox(bool on);
  void SetMaximizeBox(bool on);
  void SetMinimizeBox(bool on);
  // Clamped to 0..3; acts on a visible top-level window at once.
  void SetPositionState(int state);
  int GetPositionState() const { return positionState_; }
  void SetMovable(bool on);
  void SetDragToMove(bool on);
  void SetCloseOnEscape(bool on);
  void SetHelp(CWTextRef file, DWORD context);
  void SetTopmost(bool on);
  void SetWindowShape(int shape);
  // Group icon of the resource module (small and large); false when it cannot be loaded,
  // which leaves the previous icon (the default is group icon 100).
  bool SetIconResource(int id);
  void SetCustomClassName(CWTextRef name);
  void SetQuitOnDestroy(bool on);

  // IWinFormEventListener
  void OnCreated() override;
  bool OnPreTranslate(MSG* msg) override;
  bool OnQueryClose() override;
  bool OnCloseRequest() override;
  void OnFirstActivate() override;
  void OnActivated() override;
  void OnDeactivated() override;
  void OnShown() override;
  void OnMenuCommand(int id) override;
  void OnGetMinMaxInfo(MINMAXINFO* info) override;
  void OnTaskbarButtonCreated() override;
  // The container events stay those of CKelWinContainer.
  void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) override { CKelWinContainer::OnWindowMessage(msg, wp, lp); }
  void OnDestroyed() override { CKelWinContainer::OnDestroyed(); }
  void OnSizeChanged(int width, int height) override { CKelWinContainer::OnSizeChanged(width, height); }
  void OnShowChanged(bool shown) override { CKelWinContainer::OnShowChanged(shown); }
  void OnMoved(int left, int top) override { CKelWinContainer::OnMoved(left, top); }

  // Non-zero results consume the message (onPreTranslate) or veto the close (the other two).
  EventBinding<MSG*> onPreTranslate;
  EventBinding<> onQueryClose;
  EventBinding<> onCloseRequest;
  EventBinding<> onFirstActivate;
  EventBinding<> onActivated;
  EventBinding<> onDeactivated;
  // Once after the creation, from the message loop: the window has been shown and painted.
  EventBinding<> onShown;
  EventBinding<int> onMenuCommand;  // menu item id
  EventBinding<MINMAXINFO*> onGetMinMaxInfo;
  EventBinding<> onTaskbarButtonCreated;  // the taskbar announced the form's button

 protected:
  CKWnd_WinForm& FormWindow() const;
  void ConnectListener(bool connect) override;

 private:
  void ApplyBorder();
  // The system menu and boxes a form without border keeps for the taskbar's sake.
  DWORD BorderlessBoxes() const;
  void ApplyPositionState();
  void ApplyWindowShape();
  void ApplyIcons();
  void ApplyTopmost();
  void ApplyMovable();

  int borderStyle_ = kKelBorderFixed;
  bool controlBox_ = true;
  bool maximizeBox_ = false;
  bool minimizeBox_ = true;
  int positionState_ = kKelPositionNormal;
  bool movable_ = true;
  bool topmost_ = false;
  int windowShape_ = kKelShapeRectangle;
  UniqueIcon smallIcon_;
  UniqueIcon largeIcon_;
};

// Corner diameter of the rounded-rectangle shape: the smaller of width / 5 and height / 5.
int KelRoundShapeDiameter(int width, int height);
