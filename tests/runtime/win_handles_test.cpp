#include "runtime/win_handles.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>

namespace {

bool IsOpenHandle(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesOnDestructionAndTransfersOnMove) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueHandle a(raw);
    EXPECT_TRUE(a.IsValid());
    UniqueHandle b(std::move(a));
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(b.Get(), raw);
    EXPECT_TRUE(IsOpenHandle(raw));
  }
  EXPECT_FALSE(IsOpenHandle(raw));
}

TEST(UniqueHandle, InvalidHandleValueCountsAsEmpty) {
  UniqueHandle file(CreateFileW(L"Z:\\no\\such\\file.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(file.IsValid());
  EXPECT_FALSE(static_cast<bool>(file));
  UniqueHandle none;
  EXPECT_FALSE(none.IsValid());
}

TEST(UniqueHandle, ReleaseGivesUpOwnershipAndResetCloses) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  UniqueHandle a(raw);
  EXPECT_EQ(a.Release(), raw);
  EXPECT_FALSE(a.IsValid());
  EXPECT_TRUE(IsOpenHandle(raw));
  a.Reset(raw);
  HANDLE other = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  a = UniqueHandle(other);
  EXPECT_FALSE(IsOpenHandle(raw));
  EXPECT_TRUE(IsOpenHandle(other));
  *a.Address() = nullptr;
  EXPECT_FALSE(IsOpenHandle(other));
}

TEST(UniqueWindow, DestroysTheWindow) {
  HWND raw = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(raw, nullptr);
  { UniqueWindow w(raw); }
  EXPECT_FALSE(IsWindow(raw));
}

TEST(UniqueGdi, DeletesTheObjectAndSelectionIsRestored) {
  UniqueDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  HBITMAP raw = CreateBitmap(4, 4, 1, 32, nullptr);
  ASSERT_NE(raw, nullptr);
  HGDIOBJ original = GetCurrentObject(dc.Get(), OBJ_BITMAP);
  {
    UniqueBitmap bitmap(raw);
    {
      SelectedObject selected(dc.Get(), bitmap.Get());
      EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BITMAP), raw);
    }
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BITMAP), original);
    EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_BITMAP));
  }
  EXPECT_EQ(GetObjectType(raw), 0u);
}

TEST(WindowDc, GivesTheScreenDcBack) {
  WindowDc dc(nullptr);
  ASSERT_TRUE(dc);
  EXPECT_GT(GetDeviceCaps(dc.Get(), BITSPIXEL), 0);
}

TEST(UniqueBstr, FreesTheString) {
  UniqueBstr s(SysAllocString(L"VBScript.RegExp"));
  ASSERT_TRUE(s);
  EXPECT_EQ(SysStringLen(s.Get()), 15u);
  BSTR raw = s.Release();
  UniqueBstr again(raw);
  EXPECT_EQ(again.Get(), raw);
}

class CountingUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

TEST(ComPtr, ReleasesOnceAndMovesOwnership) {
  CountingUnknown object;
  {
    ComPtr<IUnknown> a(&object);
    ComPtr<IUnknown> b(std::move(a));
    EXPECT_EQ(a.Get(), nullptr);
    EXPECT_EQ(b.Get(), &object);
    EXPECT_EQ(object.refs, 1u);
  }
  EXPECT_EQ(object.refs, 0u);
  object.refs = 1;
  ComPtr<IUnknown> c(&object);
  IUnknown** slot = c.Address();
  EXPECT_EQ(object.refs, 0u);
  EXPECT_EQ(*slot, nullptr);
  object.refs = 1;
  *slot = &object;
  EXPECT_EQ(c.Detach(), &object);
  EXPECT_EQ(object.refs, 1u);
}

TEST(ComInit, UninitialisesOnlyWhatItInitialised) {
  std::thread([] {
    {
      ComInit first(COINIT_APARTMENTTHREADED);
      EXPECT_EQ(first.Result(), S_OK);
      {
        ComInit second(COINIT_APARTMENTTHREADED);
        EXPECT_EQ(second.Result(), S_FALSE);
        ComInit clash(COINIT_MULTITHREADED);
        EXPECT_EQ(clash.Result(), RPC_E_CHANGED_MODE);
        EXPECT_FALSE(clash.Succeeded());
      }
    }
    // Balanced: the thread is back to no COM at all.
    ComInit fresh(COINIT_MULTITHREADED);
    EXPECT_EQ(fresh.Result(), S_OK);
  }).join();
}

TEST(ClipboardSession, ClosesTheClipboard) {
  {
    ClipboardSession clipboard(nullptr);
    ASSERT_TRUE(clipboard.IsOpen());
  }
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
  ClipboardSession again(nullptr);
  EXPECT_TRUE(again.IsOpen());
}

}  // namespace
