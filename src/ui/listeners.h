// Listener interfaces between a platform window object and its control object: the window
// object calls its listener, the control object implements the listener by firing its event
// bindings. Operations are declared in their fixed order. Called on the window's thread.
#pragma once

#include <windows.h>

#include <cstdint>

class CWString;
struct rg_ChaoJiLieBiaoKuangHuiZhiCanShu;
struct rg_ChaoJiLieBiaoKuangBiaoXiangTianChong;

class IBaseEventListener {
 public:
  // 0: a mouse, keyboard or focus message of the window.
  virtual void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) = 0;

 protected:
  ~IBaseEventListener() = default;
};

class IButtonEventListener : public IBaseEventListener {
 public:
  virtual void OnClicked() = 0;  // 1

 protected:
  ~IButtonEventListener() = default;
};

class ISupperButtonEventListener : public IBaseEventListener {
 public:
  virtual void OnClicked() = 0;  // 1: after the click sound and the toggle

 protected:
  ~ISupperButtonEventListener() = default;
};

class IEditEventListener : public IBaseEventListener {
 public:
  virtual void OnChanged() = 0;  // 1

 protected:
  ~IEditEventListener() = default;
};

class IContainerEventListener : public IBaseEventListener {
 public:
  virtual void OnCreated() = 0;                           // 1
  virtual void OnDestroyed() = 0;                         // 2
  virtual void OnSizeChanged(int width, int height) = 0;  // 4
  virtual void OnShowChanged(bool shown) = 0;             // 5
  virtual void OnMoved(int left, int top) = 0;            // 6

 protected:
  ~IContainerEventListener() = default;
};

class IWinFormEventListener : public IContainerEventListener {
 public:
  // 8: before the form's own pre-translation; true consumes the message.
  virtual bool OnPreTranslate(MSG* msg) = 0;
  // 9: true vetoes the close (also asked at log-off and shut-down).
  virtual bool OnQueryClose() = 0;
  // 10: true vetoes the close.
  virtual bool OnCloseRequest() = 0;
  virtual void OnFirstActivate() = 0;  // 11
  virtual void OnActivated() = 0;      // 12
  virtual void OnDeactivated() = 0;    // 13
  // 14: once, from the message queue after the creation; a form created visible has been
  // painted by then, its controls included. A handler may wait dispatching messages.
  virtual void OnShown() = 0;
  virtual void OnMenuCommand(int id) = 0;              // 15
  virtual void OnGetMinMaxInfo(MINMAXINFO* info) = 0;  // 16: may change the limits
  // The shell made (or made again, after Explorer restarted) the form's taskbar button.
  virtual void OnTaskbarButtonCreated() = 0;

 protected:
  ~IWinFormEventListener() = default;
};

class IListViewEventListener : public IBaseEventListener {
 public:
  virtual void OnFocusGained() = 0;
  virtual void OnFocusLost() = 0;
  virtual void OnSelectionChanged(int row) = 0;
  virtual void OnRowActivated(int row) = 0;
  virtual void OnColumnClick(int column) = 0;
  virtual void OnHotTrack(int row) = 0;
  virtual void OnClick(int row, int column) = 0;
  virtual void OnRightClick(int row, int column) = 0;
  virtual void OnDoubleClick(int row, int column) = 0;
  // The tip text of a row; true when the handler gave one.
  virtual bool OnInfoTip(int row, CWString& tip) = 0;
  // The edited label; true rejects the edit.
  virtual bool OnLabelEditEnded(int row, const CWString& text) = 0;
  virtual void OnCheckToggled(int row, bool checked) = 0;
  // Custom draw of one cell; true when the handler changed the colours.
  virtual bool OnCellColors(rg_ChaoJiLieBiaoKuangHuiZhiCanShu& cell) = 0;
  // Owner data: fills the record for one cell.
  virtual void OnRowContents(rg_ChaoJiLieBiaoKuangBiaoXiangTianChong& item) = 0;

 protected:
  ~IListViewEventListener() = default;
};
