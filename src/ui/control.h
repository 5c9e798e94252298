// The toolkit's control object and its window record. Every control has three parts: the
// control object the application holds by value (CKelWinControl and subclasses), the
// reference-counted window record keeping its properties while no platform window exists
// (CMfcWndObject), and the platform window object (a CWnd subclass, owned by the record).
// A control and its window belong to the user-interface thread; SetText, Show/Hide and the
// list and progress operations may be called from another thread while the window exists
// (they become synchronous messages executed by the user-interface thread).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "concurrency/event_binding.h"
#include "runtime/object.h"
#include "runtime/text.h"
#include "runtime/win_handles.h"
#include "ui/framework/wnd.h"
#include "ui/listeners.h"

// Coordinate value meaning "use the default".
constexpr int kKelUseDefault = static_cast<int>(0x80000000u);

// Style bits every record starts with: visible and clip siblings.
constexpr DWORD kKelDefaultStyle = WS_VISIBLE | WS_CLIPSIBLINGS;
// The toolkit mark stored in the user data of top-level windows and containers, and the
// private message through which the program's pre-translation reaches a marked window
// (wParam: the MSG, lParam: the mark; a form replies the mark when it consumed the message).
constexpr LONG_PTR kKelWindowMark = 0x12D12AB;
constexpr UINT kKelMsgPreTranslate = 0x9FFF;

class CKelWinControl;
class CKWnd_Window;

struct KelCreateParams {
  HWND parent = nullptr;                    // null: a top-level window
  CKelWinControl* parentControl = nullptr;  // the control object owning parent, if any
  int left = kKelUseDefault;
  int top = kKelUseDefault;
  int width = kKelUseDefault;
  int height = kKelUseDefault;
  int id = 0;
  CWString text;         // non-empty: replaces the stored text
  DWORD style = 0;       // added to the stored style
  DWORD exStyle = 0;     // added to the stored extended style
  HMENU menu = nullptr;  // top-level windows: the menu
  HFONT font = nullptr;  // not owned; null: the stored font (or the default one)
};

// The window record: properties kept while no platform window exists, and the platform
// window object itself. One reference belongs to the control.
class CMfcWndObject : public CKelRefCounted {
 public:
  explicit CMfcWndObject(std::unique_ptr<CWnd> window) : window(std::move(window)) {}

  CWString text;
  DWORD style = kKelDefaultStyle;
  DWORD exStyle = 0;
  UniqueFont font;
  std::unique_ptr<CWnd> window;
};

class CKelWinControl : public CKelRefObject, public IBaseEventListener {
  KEL_DECLARE_CLASS(CKelWinControl, CKelRefObject)

  // A generic control over the "KelWindow" class.
  CKelWinControl();
  CKelWinControl(const CKelWinControl&) = delete;
  CKelWinControl& operator=(const CKelWinControl&) = delete;
  ~CKelWinControl() override;

  // Creation: false (and nothing changed) when the platform window already exists.
  virtual bool Create(KelCreateParams params);
  // Text, style, extended style and font from the record, the child style by the parent.
  virtual void ComputeStyles(KelCreateParams& params);
  virtual void ComputeSizeAndPosition(KelCreateParams& params);
  // After the platform window exists: font, tab stop, plain border, menu.
  virtual void AfterCreate(const KelCreateParams& params);
  // Mouse, keyboard and focus messages of the window; fires onMessage.
  virtual void DispatchMessage(UINT msg, WPARAM wp, LPARAM lp);
  // The control receives its platform window's notifications from construction on; these
  // switch that off and on again.
  virtual void RegisterListener();
  virtual void UnregisterListener();

  // Shorthand for Create with a rectangle, an id and optional text and extra styles.
  bool Create(HWND parent, CKelWinControl* parentControl, int left, int top, int width, int height, int id,
              CWTextRef text = L"", DWORD style = 0, DWORD exStyle = 0);

  HWND GetHwnd() const;
  bool HasWindow() const { return GetHwnd() != nullptr; }
  CWnd* Window() const;

  void SetText(CWTextRef text);
  CWString GetText() const;
  void Show();
  void Hide();
  bool IsVisible() const;  // the window's visible state, or the stored style bit
  void Enable();
  void Disable();
  bool IsEnabled() const;
  // Replaces the font (the control owns it); false when the description gives no font.
  bool SetFontDescription(CWTextRef description);
  HFONT GetFont() const;
  // Stored style bits; set before creation they act at creation.
  DWORD GetStoredStyle() const;
  DWORD GetStoredExStyle() const;
  void SetStoredStyle(DWORD remove, DWORD add);
  void SetStoredExStyle(DWORD remove, DWORD add);

  // IBaseEventListener
  void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  // A mouse, keyboard or focus message (msg, wParam, lParam).
  EventBinding<UINT, WPARAM, LPARAM> onMessage;

 protected:
  // For subclasses: takes the platform window object they use.
  explicit CKelWinControl(std::unique_ptr<CWnd> window);

  CMfcWndObject& Record() const;
  // Makes the platform window from the computed parameters.
  virtual bool CreatePlatformWindow(const KelCreateParams& params);
  // Containers are not repainted on a text change.
  virtual bool IsContainer() const { return false; }
  // Connects (listener) or disconnects (null) the platform window object to this control.
  virtual void ConnectListener(bool connect);

 private:
  CKWnd_Window* genericWindow_ = nullptr;  // set by the generic control only
  bool listening_ = true;
};

// Generic platform window of CKelWinControl: class "KelWindow"; passes its mouse, keyboard
// and focus messages to its listener.
class CKWnd_Window : public CWnd {
 public:
  void SetListener(IBaseEventListener* listener) { listener_ = listener; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  IBaseEventListener* listener_ = nullptr;
};

// Mouse (0x200-0x20E), keyboard (0x100-0x109) and focus messages.
bool IsInputMessage(UINT msg);
