#include "app/application.h"

#include <commctrl.h>

#include <cstdlib>
#include <utility>

#include "app/app_instance.h"
#include "runtime/exception.h"
#include "ui/control.h"
#include "ui/image.h"

namespace {

constexpr wchar_t kRuntimeErrorCaption[] = L"运行时异常";

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  return MessageBoxW(owner, text, caption, type);
}

void ExitWithStandardLibrary(int code) { std::exit(code); }

bool DebuggerAttached() { return IsDebuggerPresent() != FALSE; }

}  // namespace

KelStartupHooks DefaultStartupHooks() { return {&ShowMessageBox, &ExitWithStandardLibrary, &DebuggerAttached}; }

int32_t RunStartupClass() { return RunStartupClass(DefaultStartupHooks()); }

int32_t RunStartupClass(const KelStartupHooks& hooks) {
  CKelUserApp* program = KelAppInstance().Program();
  if (!program) return 0;
  if (hooks.debuggerPresent()) return program->Launch();
  CWString message;
  try {
    return program->Launch();
  } catch (const CKelException& e) {
    message.Format(L"俘获到异常,代码值为: %d, 描述为: %s", static_cast<int>(e.Code()), e.Description().GetText());
  } catch (...) {
    message = L"程序在运行时抛出了未被管理的异常";
  }
  hooks.showMessage(nullptr, message.GetText(), kRuntimeErrorCaption, MB_ICONERROR);
  hooks.exitProcess(-1);
  return 0;  // only when the exit hook came back (a test's)
}

bool IsPreTranslatedInput(UINT message) {
  return (message >= 0x100 && message <= 0x109) || (message >= 0x200 && message <= 0x20E);
}

CKelMfcAppBase::CKelMfcAppBase() { KelAppInstance(); }

bool CKelMfcAppBase::PreTranslateMessage(MSG* msg) {
  if (windowProgram &&
      windowProgram->OnPreTranslateMessage(msg->hwnd, msg->message, msg->wParam, msg->lParam, msg) == 0) {
    return true;
  }
  if (CWinAppEx::PreTranslateMessage(msg)) return true;
  if (!IsPreTranslatedInput(msg->message)) return false;
  for (HWND window = msg->hwnd; window;) {
    if (GetWindowLongPtrW(window, GWLP_USERDATA) == kKelWindowMark &&
        SendMessageW(window, kKelMsgPreTranslate, reinterpret_cast<WPARAM>(msg), kKelWindowMark) == kKelWindowMark) {
      return true;
    }
    if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)) break;
    window = GetParent(window);
  }
  return false;
}

bool CKelMfcAppBase::OnIdle(int32_t count) {
  if (!windowProgram) return CWinAppEx::OnIdle(count);
  if (count == 0) {
    frameworkIdlePending_ = true;
    idleStart_ = GetTickCount();
  }
  if (frameworkIdlePending_) {
    frameworkIdlePending_ = CWinAppEx::OnIdle(count);
    return true;
  }
  if (count <= 1) return true;
  KelAppInstance().idleReleaseList.Sweep(GetTickCount());
  return windowProgram->OnIdle(GetTickCount() - idleStart_) != 0;
}

int CKelMfcAppBase::ExitInstance() {
  CKelAppInstance& app = KelAppInstance();
  if (windowProgram) windowProgram->OnExitInstance();
  app.idleReleaseList.ReleaseAll();
  windowProgram = nullptr;
  app.DeleteProgram();
  app.objectList.Clear();
  ShutdownGdiplus();
  return CWinAppEx::ExitInstance();
}

CKelMFCApp::CKelMFCApp(const CKelClassInfo& startupClass) : startupClass_(startupClass) {}

bool CKelMFCApp::InitInstance() {
  InitOle();
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  if (!CWinAppEx::InitInstance()) return false;

  CKelAppInstance& app = KelAppInstance();
  app.SetModuleHandle(InstanceHandle());
  app.InitializeCom();

  CKelObject* made = startupClass_.factory ? startupClass_.factory() : nullptr;
  auto* program = dynamic_cast<CKelUserApp*>(made);
  if (!program) {
    if (made) made->Delete();
    hooks.exitProcess(-1);
    return false;
  }
  app.SetProgram(program);
  windowProgram = dynamic_cast<rg_ChuangKouChengXuLei*>(program);
  return RunStartupClass(hooks) != 0 && MainWindow() != nullptr;
}
