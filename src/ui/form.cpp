#include "ui/form.h"

#include <algorithm>

#include "ui/image.h"

const wchar_t kKelDefaultFormTitle[] = L"BrinemarchOL专用下载器";

namespace {

constexpr int kDefaultIconId = 100;

bool IsEditControl(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  return lstrcmpiW(name, L"Edit") == 0;
}

// The part of a monitor windows may use, without the taskbar and docked bars; the primary
// screen's when the monitor cannot be asked.
RECT WorkAreaOf(HMONITOR monitor) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor && GetMonitorInfoW(monitor, &info)) return info.rcWork;
  RECT area{0, 0, 0, 0};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
    area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return area;
}

}  // namespace

int KelRoundShapeDiameter(int width, int height) { return std::min(width / 5, height / 5); }

const wchar_t* CKWnd_WinForm::ClassName() const {
  return customClassName.IsEmpty() ? L"KelWinForm" : customClassName.GetText();
}

bool CKWnd_WinForm::PreTranslate(MSG* msg) {
  HWND self = GetSafeHwnd();
  if (!msg || !self) return false;
  if (formListener_ && formListener_->OnPreTranslate(msg)) return true;
  // The handler may have destroyed the form.
  if (GetSafeHwnd() != self || !IsWindow(self)) return true;
  if (msg->message == WM_KEYDOWN) {
    if (msg->wParam == VK_ESCAPE && closeOnEscape) {
      PostMessage(WM_CLOSE);
      return true;
    }
    if (msg->wParam == VK_TAB) {
      HWND focus = GetFocus();
      if (focus && IsChild(self, focus) && IsEditControl(focus)) {
        HWND next = GetNextDlgTabItem(self, focus, GetKeyState(VK_SHIFT) < 0);
        if (next) SetFocus(next);
        return true;
      }
    }
    if (msg->wParam == VK_F1 && !helpFile.IsEmpty()) {
      WinHelpW(self, helpFile.GetText(), HELP_CONTEXT, helpContext);
      return true;
    }
  }
  if (msg->message == WM_LBUTTONDOWN && dragToMove) {
    HWND target = msg->hwnd;
    bool onStaticChild =
        target != self && IsChild(self, target) && (::SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_STATIC) != 0;
    if (target == self || onStaticChild) {
      POINT cursor = msg->pt;
      ReleaseCapture();
      PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(cursor.x, cursor.y));
      return true;
    }
  }
  return false;
}

LRESULT CKWnd_WinForm::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kKelMsgPreTranslate:
      if (lp == kKelWindowMark && wp) {
        return PreTranslate(reinterpret_cast<MSG*>(wp)) ? kKelWindowMark : 0;
      }
      break;
    case WM_CREATE: {
      const LRESULT result = CKWnd_Container::WindowProc(msg, wp, lp);
      // Posted messages come before painting: the shown event paints the window first.
      if (result != -1) PostMessage(kKelMsgFormShown);
      return result;
    }
    case kKelMsgFormShown:
      if (IsWindowVisible()) {
        RedrawWindow(GetSafeHwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
      }
      if (formListener_) formListener_->OnShown();
      return 0;
    case WM_CLOSE:
      if (formListener_ && (formListener_->OnCloseRequest() || formListener_->OnQueryClose())) return 0;
      DestroyWindow();
      return 0;
    case WM_QUERYENDSESSION:
      return formListener_ && formListener_->OnQueryClose() ? FALSE : TRUE;
    case WM_ACTIVATE:
      if (formListener_) {
        if (LOWORD(wp) != WA_INACTIVE) {
          if (!activatedOnce_) {
            activatedOnce_ = true;
            formListener_->OnFirstActivate();
          }
          formListener_->OnActivated();
        } else {
          formListener_->OnDeactivated();
        }
      }
      break;
    case WM_COMMAND:
      if (lp == 0 && HIWORD(wp) == 0 && formListener_) {
        formListener_->OnMenuCommand(LOWORD(wp));
        return 0;
      }
      break;
    case WM_GETMINMAXINFO: {
      LRESULT result = CKWnd_Container::WindowProc(msg, wp, lp);
      if (formListener_) formListener_->OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lp));
      return result;
    }
    case WM_NCDESTROY:
      if (quitOnDestroy) PostQuitMessage(0);
      break;
    default:
      // Registered by the shell, so its number is only known at run time.
      static const UINT taskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
      if (msg == taskbarButtonCreated && taskbarButtonCreated != 0 && formListener_) {
        formListener_->OnTaskbarButtonCreated();
        return 0;
      }
      break;
  }
  return CKWnd_Container::WindowProc(msg, wp, lp);
}

CKelWinForm::CKelWinForm() : rg_ZuJianBuJuQi(std::make_unique<CKWnd_WinForm>()) { CKelWinForm::ConnectListener(true); }

CKelWinForm::~CKelWinForm() {
  CKelWinForm::ConnectListener(false);
  // Before the icons go: the window uses them until it is destroyed.
  Window()->DestroyWindow();
}

CKWnd_WinForm& CKelWinForm::FormWindow() const { return *static_cast<CKWnd_WinForm*>(Window()); }

void CKelWinForm::ConnectListener(bool connect) {
  CKelWinContainer::ConnectListener(connect);
  FormWindow().SetFormListener(connect ? static_cast<IWinFormEventListener*>(this) : nullptr);
}

bool CKelWinForm::CreateTopLevel() { return Create(KelCreateParams{}); }

void CKelWinForm::ComputeStyles(KelCreateParams& params) {
  rg_ZuJianBuJuQi::ComputeStyles(params);
  params.exStyle |= WS_EX_CONTROLPARENT;
  params.style |= WS_CLIPCHILDREN;
  if (params.text.IsEmpty() && controlBox_) {
    params.text = kKelDefaultFormTitle;
    Record().text = params.text;
  }
  if (borderStyle_ == kKelBorderNone) {
    params.style |= BorderlessBoxes();
  } else {
    if (!params.text.IsEmpty() || controlBox_) params.style |= WS_CAPTION;
    if (controlBox_) params.style |= WS_SYSMENU | WS_BORDER;
    params.style |= WS_DLGFRAME;
    if (maximizeBox_) params.style |= WS_MAXIMIZEBOX;
    if (minimizeBox_) params.style |= WS_MINIMIZEBOX;
    switch (borderStyle_) {
      case kKelBorderSizable:
        params.style |= WS_THICKFRAME;
        break;
      case kKelBorderSizableTool:
        params.style |= WS_THICKFRAME;
        params.exStyle |= WS_EX_TOOLWINDOW;
        break;
      case kKelBorderFixedTool:
        params.exStyle |= WS_EX_TOOLWINDOW;
        break;
      case kKelBorderSizableSunken:
        params.style |= WS_THICKFRAME;
        params.exStyle |= WS_EX_CLIENTEDGE;
        break;
      case kKelBorderFixedSunken:
        params.exStyle |= WS_EX_CLIENTEDGE;
        break;
      default:
        break;
    }
  }
  if (positionState_ == kKelPositionMinimised) params.style |= WS_MINIMIZE;
  if (positionState_ == kKelPositionMaximised) params.style |= WS_MAXIMIZE;
}

void CKelWinForm::ComputeSizeAndPosition(KelCreateParams& params) {
  if (params.width == kKelUseDefault || params.height == kKelUseDefault) {
    RECT rect{0, 0, std::max(DesignWidth(), 0), std::max(DesignHeight(), 0)};
    AdjustWindowRectEx(&rect, params.style, params.menu != nullptr && !params.parent, params.exStyle);
    params.width = rect.right - rect.left;
    params.height = rect.bottom - rect.top;
  }
  if (params.left == kKelUseDefault || params.top == kKelUseDefault) {
    if (params.parent) {
      if (params.left == kKelUseDefault) params.left = 0;
      if (params.top == kKelUseDefault) params.top = 0;
    } else {
      // The work area, so that no part of the window lies under the taskbar.
      const RECT area = WorkAreaOf(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
      params.left = area.left + ((area.right - area.left) - params.width) / 2;
      params.top = area.top + ((area.bottom - area.top) - params.height) / 2;
    }
  }
}

void CKelWinForm::AfterCreate(const KelCreateParams& params) {
  rg_ZuJianBuJuQi::AfterCreate(params);
  ApplyBorder();
  ApplyIcons();
  ApplyWindowShape();
  ApplyTopmost();
  ApplyMovable();
  ApplyPositionState();
}

void CKelWinForm::ApplyBorder() {
  CWnd* window = Window();
  if (!window->Exists()) return;
  constexpr DWORD kBoxes = WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  DWORD style = window->GetStyle();
  DWORD wanted;
  if (borderStyle_ == kKelBorderNone) {
    wanted = (style & ~(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | kBoxes)) | BorderlessBoxes();
  } else {
    CWString title = GetText();
    DWORD bits = WS_DLGFRAME;
    if (controlBox_) {
      bits |= WS_CAPTION | WS_SYSMENU;
    } else if (!title.IsEmpty() && !(title == kKelDefaultFormTitle)) {
      bits |= WS_CAPTION;
    }
    if (maximizeBox_) bits |= WS_MAXIMIZEBOX;
    if (minimizeBox_) bits |= WS_MINIMIZEBOX;
    wanted = (style & ~(WS_CAPTION | WS_SYSMENU | kBoxes)) | bits;
  }
  if (wanted != style) {
    window->ModifyStyle(style & ~wanted, wanted & ~style, SWP_FRAMECHANGED);
  }
}

DWORD CKelWinForm::BorderlessBoxes() const {
  // Without a caption these show nothing, but the taskbar minimises and restores a window by
  // its button only when it has them, and Alt+Space still opens the system menu.
  if (!controlBox_) return 0;
  DWORD boxes = WS_SYSMENU;
  if (minimizeBox_) boxes |= WS_MINIMIZEBOX;
  if (maximizeBox_) boxes |= WS_MAXIMIZEBOX;
  return boxes;
}

void CKelWinForm::ApplyIcons() {
  if (!HasWindow()) return;
  if (!smallIcon_ || !largeIcon_) SetIconResource(kDefaultIconId);
  if (smallIcon_) Window()->SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
  if (largeIcon_) Window()->SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon_.Get()));
}

bool CKelWinForm::SetIconResource(int id) {
  HMODULE module = ResourceModule();
  UniqueIcon small(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
  UniqueIcon large(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                 GetSystemMetrics(SM_CYICON), 0)));
  if (!small || !large) return false;
  if (HasWindow()) {
    Window()->SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.Get()));
    Window()->SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large.Get()));
  }
  // The window holds the new icons before the old ones are destroyed.
  smallIcon_ = std::move(small);
  largeIcon_ = std::move(large);
  return true;
}

void CKelWinForm::ApplyWindowShape() {
  if (!HasWindow()) return;
  RECT rect = Window()->GetWindowRect();
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  UniqueRegion region;
  if (windowShape_ == kKelShapeEllipse) {
    region.Reset(CreateEllipticRgn(0, 0, width, height));
  } else if (windowShape_ == kKelShapeRoundRect) {
    int diameter = KelRoundShapeDiameter(width, height);
    region.Reset(CreateRoundRectRgn(0, 0, width + 1, height + 1, diameter, diameter));
  }
  // The system owns a region it accepted.
  if (SetWindowRgn(GetHwnd(), region.Get(), TRUE)) region.Release();
}

void CKelWinForm::ApplyTopmost() {
  if (HasWindow() && topmost_) {
    SetWindowPos(GetHwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void CKelWinForm::ApplyMovable() {
  if (HasWindow() && !movable_) {
    HMENU menu = GetSystemMenu(GetHwnd(), FALSE);
    if (menu) DeleteMenu(menu, SC_MOVE, MF_BYCOMMAND);
  }
}

void CKelWinForm::ApplyPositionState() {
  HWND window = GetHwnd();
  if (!window || (Window()->GetStyle() & WS_CHILD) || !IsWindowVisible(window)) return;
  switch (positionState_) {
    case kKelPositionNormal:
      ShowWindow(window, SW_SHOWNORMAL);
      break;
    case kKelPositionMinimised:
      ShowWindow(window, SW_MINIMIZE);
      break;
    case kKelPositionMaximised:
      ShowWindow(window, SW_MAXIMIZE);
      break;
    default: {
      if (IsIconic(window) || IsZoomed(window)) ShowWindow(window, SW_RESTORE);
      const RECT area = WorkAreaOf(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY));
      RECT rect = Window()->GetWindowRect();
      int left = area.left + ((area.right - area.left) - (rect.right - rect.left)) / 2;
      int top = area.top + ((area.bottom - area.top) - (rect.bottom - rect.top)) / 2;
      SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    }
  }
}

void CKelWinForm::SetTitle(CWTextRef title) {
  SetText(title);
  ApplyBorder();
}

void CKelWinForm::SetBorderStyle(int style) {
  borderStyle_ = style;
  ApplyBorder();
}

void CKelWinForm::SetControlBox(bool on) {
  controlBox_ = on;
  ApplyBorder();
}

void CKelWinForm::SetMaximizeBox(bool on) {
  maximizeBox_ = on;
  ApplyBorder();
}

void CKelWinForm::SetMinimizeBox(bool on) {
  minimizeBox_ = on;
  ApplyBorder();
}

void CKelWinForm::SetPositionState(int state) {
  positionState_ = std::clamp(state, static_cast<int>(kKelPositionNormal), static_cast<int>(kKelPositionMaximised));
  ApplyPositionState();
}

void CKelWinForm::SetMovable(bool on) {
  movable_ = on;
  ApplyMovable();
}

void CKelWinForm::SetDragToMove(bool on) { FormWindow().dragToMove = on; }

void CKelWinForm::SetCloseOnEscape(bool on) { FormWindow().closeOnEscape = on; }

void CKelWinForm::SetHelp(CWTextRef file, DWORD context) {
  FormWindow().helpFile = CWString(file);
  FormWindow().helpContext = context;
}

void CKelWinForm::SetTopmost(bool on) {
  topmost_ = on;
  ApplyTopmost();
}

void CKelWinForm::SetWindowShape(int shape) {
  windowShape_ = shape;
  ApplyWindowShape();
}

void CKelWinForm::SetCustomClassName(CWTextRef name) { FormWindow().customClassName = CWString(name); }

void CKelWinForm::SetQuitOnDestroy(bool on) { FormWindow().quitOnDestroy = on; }

void CKelWinForm::OnCreated() {
  CreateChildren();
  CKelWinContainer::OnCreated();
}

bool CKelWinForm::OnPreTranslate(MSG* msg) { return onPreTranslate.Fire(this, msg) != 0; }

bool CKelWinForm::OnQueryClose() { return onQueryClose.Fire(this) != 0; }

bool CKelWinForm::OnCloseRequest() { return onCloseRequest.Fire(this) != 0; }

void CKelWinForm::OnFirstActivate() { onFirstActivate.Fire(this); }
void CKelWinForm::OnTaskbarButtonCreated() { onTaskbarButtonCreated.Fire(this); }

void CKelWinForm::OnActivated() { onActivated.Fire(this); }

void CKelWinForm::OnDeactivated() { onDeactivated.Fire(this); }

void CKelWinForm::OnShown() { onShown.Fire(this); }

void CKelWinForm::OnMenuCommand(int id) { onMenuCommand.Fire(this, id); }

void CKelWinForm::OnGetMinMaxInfo(MINMAXINFO* info) { onGetMinMaxInfo.Fire(this, info); }
