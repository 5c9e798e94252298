#include "app/program.h"

#include "app/app_instance.h"

CKelUserApp::CKelUserApp() { KelAppInstance().theProgram = this; }

CKelUserApp::CKelUserApp(const CKelUserApp& other) : CKelObject(other) { KelAppInstance().theProgram = this; }

CKelUserApp::~CKelUserApp() {
  CKelAppInstance& app = KelAppInstance();
  if (app.theProgram == this) app.theProgram = nullptr;
}

int32_t rg_ChuangKouChengXuLei::OnPreTranslateMessage(HWND, UINT, WPARAM, LPARAM, MSG*) { return 1; }

int32_t rg_ChuangKouChengXuLei::OnIdle(uint32_t) { return 0; }

void rg_ChuangKouChengXuLei::OnExitInstance() {}
