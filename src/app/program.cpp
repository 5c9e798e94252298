#include "app/program.h"

#include "app/app_instance.h"

CKelUserApp::CKelUserApp() { KelAppInstance().SetProgram(this); }

CKelUserApp::CKelUserApp(const CKelUserApp& other) : CKelObject(other) { KelAppInstance().SetProgram(this); }

CKelUserApp::~CKelUserApp() { KelAppInstance().ForgetProgram(this); }

int32_t rg_ChuangKouChengXuLei::OnPreTranslateMessage(HWND, UINT, WPARAM, LPARAM, MSG*) { return 1; }

int32_t rg_ChuangKouChengXuLei::OnIdle(uint32_t) { return 0; }

void rg_ChuangKouChengXuLei::OnExitInstance() {}
