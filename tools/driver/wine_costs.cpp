// What the platform itself costs, measured with a program that does next to nothing, so the
// benchmarks can tell the downloader's own share from the platform's (under Wine, most of it):
//   painted_at=T        when a bare 624 x 375 popup with a report list view had painted (Unix
//                       seconds, the clock the benchmark scripts read)
//   bare_private_kib=N  PagefileUsage of this process once painted
//   thread_private_kib=N  what one more idle thread adds to it
//   select_us=X         one select() over three listening sockets with a zero timeout
//   read4k_us=X         one 4 KiB ReadFile at an offset of a cached file
// usage: wine_costs.exe [--no-window]   (prints the lines above on standard output, then ends;
//        --no-window leaves out the first two, for runs without a display)
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>

#include "unix_clock.h"

namespace {

constexpr int kThreads = 4;
constexpr int kSelects = 20000;
constexpr int kReads = 20000;
constexpr DWORD kFileBlocks = 4096;  // a 16 MiB file, read 4 KiB at a time
bool painted = false;

SIZE_T PrivateKib() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PagefileUsage / 1024;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    TextOutW(dc, 12, 8, L"\u5f00\u59cb\u4e0b\u8f7d", 4);
    EndPaint(window, &paint);
    if (!painted) {
      painted = true;
      std::printf("painted_at=%.6f\n", static_cast<double>(UnixMicroseconds()) / 1e6);
      PostQuitMessage(0);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool ShowBareWindow() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = L"BrinemarchWineCosts";
  if (!RegisterClassW(&windowClass)) return false;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"wine_costs", WS_POPUP | WS_VISIBLE, 100, 100, 624, 375,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!window) return false;
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 12, 30, 600, 258, window,
                              nullptr, windowClass.hInstance, nullptr);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = 300;
  column.pszText = const_cast<wchar_t*>(L"\u6587\u4ef6");
  if (list) SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return painted;
}

DWORD WINAPI Idle(void* stop) {
  WaitForSingleObject(stop, INFINITE);
  return 0;
}

void MeasureThreads() {
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE threads[kThreads] = {};
  const SIZE_T before = PrivateKib();
  int started = 0;
  for (HANDLE& thread : threads) {
    thread = CreateThread(nullptr, 0, Idle, stop, 0, nullptr);
    if (thread) ++started;
  }
  Sleep(200);  // each thread has reached its wait
  const SIZE_T after = PrivateKib();
  if (started > 0) std::printf("thread_private_kib=%zu\n", (after - before) / started);
  SetEvent(stop);
  for (HANDLE thread : threads) {
    if (!thread) continue;
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
  }
  CloseHandle(stop);
}

void MeasureSelect() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  SOCKET sockets[3];
  fd_set all;
  FD_ZERO(&all);
  for (SOCKET& s : sockets) {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(s, 4) != 0) {
      WSACleanup();
      return;
    }
    FD_SET(s, &all);
  }
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kSelects; ++i) {
    fd_set ready = all;
    timeval zero{0, 0};
    select(0, &ready, nullptr, nullptr, &zero);
  }
  const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  std::printf("select_us=%.1f\n", spent.count() / kSelects);
  for (SOCKET s : sockets) closesocket(s);
  WSACleanup();
}

void MeasureReads() {
  wchar_t folder[MAX_PATH], path[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"bwc", 0, path)) return;
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  static char block[4096];
  DWORD moved = 0;
  bool written = true;
  for (DWORD i = 0; i < kFileBlocks && written; ++i) written = WriteFile(file, block, sizeof block, &moved, nullptr);
  if (written) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kReads; ++i) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(i % kFileBlocks) * sizeof block;
      ReadFile(file, block, sizeof block, &moved, &at);
    }
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    std::printf("read4k_us=%.1f\n", spent.count() / kReads);
  }
  CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || lstrcmpW(argv[1], L"--no-window") != 0) {
    if (!ShowBareWindow()) return 1;
    std::printf("bare_private_kib=%zu\n", PrivateKib());
  }
  MeasureThreads();
  MeasureSelect();
  MeasureReads();
  std::fflush(stdout);
  return 0;
}
