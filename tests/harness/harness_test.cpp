// Proves the test platform itself: Wine in the players' Chinese locale, a display for
// windows, and the engine binary that the build puts beside our programs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring ProgramDirectory() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

struct Handle {
  HANDLE h = nullptr;
  explicit Handle(HANDLE v = nullptr) : h(v) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

TEST(Platform, ChineseCodePages) {
  EXPECT_EQ(GetACP(), 936u);
  EXPECT_EQ(GetOEMCP(), 936u);
}

TEST(Platform, ChineseFileNameRoundTrip) {
  wchar_t tmp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, tmp), 0u);
  std::wstring dir = std::wstring(tmp) + L"布林马奇 测试";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring file = dir + L"\\安装包 第一部分.txt";
  {
    Handle h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h.h, "abc", 3, &written, nullptr));
  }
  WIN32_FIND_DATAW found{};
  HANDLE f = FindFirstFileW((dir + L"\\*.txt").c_str(), &found);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FindClose(f);
  EXPECT_EQ(std::wstring(found.cFileName), L"安装包 第一部分.txt");
  EXPECT_EQ(found.nFileSizeLow, 3u);
  EXPECT_TRUE(DeleteFileW(file.c_str()));
  EXPECT_TRUE(RemoveDirectoryW(dir.c_str()));
}

TEST(Platform, WindowCanBeCreated) {
  HWND w = CreateWindowExW(0, L"STATIC", L"BrinemarchOL下载器", WS_POPUP | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(w, nullptr) << GetLastError();
  wchar_t title[64] = {};
  GetWindowTextW(w, title, 64);
  EXPECT_EQ(std::wstring(title), L"BrinemarchOL下载器");
  RECT r{};
  GetWindowRect(w, &r);
  EXPECT_EQ(r.right - r.left, 200);
  EXPECT_TRUE(DestroyWindow(w));
}

TEST(Platform, EngineBesideProgramAnswersVersion) {
  std::wstring engine = ProgramDirectory() + L"aria2c.exe";
  ASSERT_NE(GetFileAttributesW(engine.c_str()), INVALID_FILE_ATTRIBUTES);
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE rd = nullptr, wr = nullptr;
  ASSERT_TRUE(CreatePipe(&rd, &wr, &sa, 0));
  Handle read(rd), write(wr);
  SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = wr;
  si.hStdError = wr;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + engine + L"\" --version";
  ASSERT_TRUE(
      CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
  Handle process(pi.hProcess), thread(pi.hThread);
  CloseHandle(write.h);
  write.h = nullptr;
  std::string out;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(rd, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(out.find("aria2 version 1.36.0"), std::string::npos) << out;
}

}  // namespace
