// The resolution dispatcher: hand-over of the worker's lists, waits that keep the window's
// messages flowing, refusal of a call re-entered during the wait, both task kinds, and the
// pool's life.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator_test.h"
#include "held_server.h"
#include "resolve/resolver.h"
#include "runtime/utils.h"
#include "text_support.h"

namespace {

constexpr UINT kProbeMessage = WM_APP + 7;

rg_WenBenShuZuLei ListOf(std::initializer_list<const wchar_t*> items) {
  rg_WenBenShuZuLei list;
  for (const wchar_t* item : items) list.Add(item);
  return list;
}

class ResolverTest : public EmulatorTest {
 protected:
  void UseTree(const std::wstring& tree) { ASSERT_TRUE(emulator.Control(L"{\"tree\":" + tree + L"}")); }
  std::wstring Share(const std::wstring& token) const { return emulator.HttpOrigin() + L"/drive/folder/" + token; }

  rg_WenBenShuZuLei names = ListOf({L"old name"});
  rg_WenBenShuZuLei pageUrls = ListOf({L"old page"});
  rg_WenBenShuZuLei downloadUrls = ListOf({L"old download"});
};

TEST_F(ResolverTest, HandsBackTheListingsLists) {
  UseTree(
      LR"({"name":"r","token":"One","children":[{"name":"a.bin","token":"fa","size":1},
    {"name":"s","children":[{"name":"c.bin","token":"fc","size":1}]}]})");
  rg_n1565 resolver(endpoints);
  EXPECT_EQ(resolver.ResolveFeishuFolder(CWString(Share(L"One")), names, pageUrls, downloadUrls), 2);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"a.bin", L"c.bin"}));
  EXPECT_EQ(Items(pageUrls),
            (std::vector<std::wstring>{emulator.HttpOrigin() + L"/file/fa", emulator.HttpOrigin() + L"/file/fc"}));
  const std::wstring stream = emulator.HttpOrigin() + L"/space/api/box/stream/download/all/";
  EXPECT_EQ(Items(downloadUrls), (std::vector<std::wstring>{stream + L"fa", stream + L"fc"}));
  // Handed over, not kept.
  EXPECT_EQ(resolver.feishuNames.Count() + resolver.feishuPageUrls.Count() + resolver.feishuDownloadUrls.Count(), 0);
  EXPECT_EQ(resolver.feishuStatus.load(), 2);
}

TEST_F(ResolverTest, TwoCallsGiveIndependentResults) {
  UseTree(LR"({"name":"r","token":"One","children":[{"name":"a.bin","size":1},{"name":"b.bin","size":1}]})");
  rg_n1565 resolver(endpoints);
  EXPECT_EQ(resolver.ResolveFeishuFolder(CWString(Share(L"One")), names, pageUrls, downloadUrls), 2);
  UseTree(LR"({"name":"r","token":"Two","children":[{"name":"z.bin","size":1}]})");
  EXPECT_EQ(resolver.ResolveFeishuFolder(CWString(Share(L"Two")), names, pageUrls, downloadUrls), 1);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"z.bin"}));
  EXPECT_EQ(pageUrls.Count(), 1);
  EXPECT_EQ(downloadUrls.Count(), 1);
}

TEST_F(ResolverTest, FailedListingEmptiesTheCallersLists) {
  ASSERT_TRUE(emulator.Control(LR"({"list":{"mode":"expired"}})"));
  rg_n1565 resolver(endpoints);
  EXPECT_EQ(
      resolver.ResolveFeishuFolder(CWString(Share(L"Xq4rTaWmBbN2pLsE7vYc9dKhU3z")), names, pageUrls, downloadUrls), 0);
  EXPECT_EQ(names.Count() + pageUrls.Count() + downloadUrls.Count(), 0);
}

// Whether the certificate was the reason is Windows' word (12175, IsCertificateError's table):
// Wine reports an untrusted host as a channel that could not be set up, a network error.
TEST_F(ResolverTest, AListingHostThatIsNotTrustedGivesNothingAndOtherFailuresAreNotTakenForIt) {
  UseTree(LR"({"name":"r","token":"One","children":[{"name":"a.bin","size":1}]})");
  DriveEndpoints secure = endpoints;
  secure.listOrigin = CWString(emulator.TlsOrigin());
  rg_n1565 resolver(secure);
  const CWString share(emulator.TlsOrigin() + L"/drive/folder/One");
  FeishuSession session;
  EXPECT_EQ(resolver.ResolveFeishuFolder(share, names, pageUrls, downloadUrls, &session), 1);
  EXPECT_FALSE(session.untrusted);

  ASSERT_TRUE(emulator.Control(LR"({"tls_cert":"untrusted"})"));
  EXPECT_EQ(resolver.ResolveFeishuFolder(share, names, pageUrls, downloadUrls, &session), 0);
  EXPECT_EQ(names.Count() + pageUrls.Count() + downloadUrls.Count(), 0);

  // Another failure is not taken for it.
  ASSERT_TRUE(emulator.Control(LR"({"tls_cert":null,"list":{"mode":"500"}})"));
  EXPECT_EQ(resolver.ResolveFeishuFolder(share, names, pageUrls, downloadUrls, &session), 0);
  EXPECT_FALSE(session.untrusted);
}

TEST_F(ResolverTest, StoppedPoolGivesNothingAtOnce) {
  rg_n1565 resolver(endpoints);
  ASSERT_TRUE(resolver.taskPool.Stop(0, 2000));
  EXPECT_EQ(
      resolver.ResolveFeishuFolder(CWString(Share(L"Xq4rTaWmBbN2pLsE7vYc9dKhU3z")), names, pageUrls, downloadUrls), 0);
  EXPECT_EQ(names.Count() + pageUrls.Count() + downloadUrls.Count(), 0);
  EXPECT_TRUE(Requests().empty());
}

TEST_F(ResolverTest, LanzouTaskKindFillsTheLanzouLists) {
  rg_n1565 resolver(endpoints);
  rg_n1660 task;
  task.shareAddress = CWString(emulator.TlsOrigin() + L"/b0bm7dq2xa");
  task.makeDownloadUrls = 1;
  task.filePasswords.Add(L"", L"4fj8");
  resolver.taskPool.PostObjectTask(0, task, 0);
  // Bounded only so that a broken hand-over fails instead of hanging.
  for (int i = 0; i < 120000 && resolver.lanzouStatus.load(std::memory_order_acquire) == -1; ++i) WaitWithMessages(1);
  ASSERT_EQ(resolver.lanzouStatus.load(), 2);
  EXPECT_EQ(Items(resolver.lanzouNames), (std::vector<std::wstring>{L"Brinemarch-tools.zip", L"Brinemarch-patch.rar"}));
  EXPECT_EQ(Std(resolver.lanzouLinks.Get(0)), emulator.HttpOrigin() + L"/lanzou/dl/iBm7Qa1xYz");
  EXPECT_EQ(Std(resolver.lanzouLinks.Get(1)), emulator.HttpOrigin() + L"/lanzou/dl/iBm7Qb2kLm");
  EXPECT_EQ(resolver.feishuStatus.load(), -1);
}

// A message-only window whose handler runs while ResolveFeishuFolder waits: it tries the call
// again, then lets the held listing answer.
struct ProbeWindow {
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kProbeMessage) return DefWindowProcW(window, message, wParam, lParam);
    auto* self = reinterpret_cast<ProbeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    self->handled = true;
    self->reentryResult = self->resolver->ResolveFeishuFolder(CWString(L"http://127.0.0.1:1/drive/folder/x"),
                                                              self->names, self->pageUrls, self->downloadUrls);
    self->server->Release();
    return 0;
  }

  ProbeWindow(rg_n1565& resolver, HeldServer& server) : resolver(&resolver), server(&server) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ResolverProbeWindow";
    RegisterClassW(&windowClass);
    window.Reset(CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr));
    SetWindowLongPtrW(window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  rg_n1565* resolver;
  HeldServer* server;
  UniqueWindow window;
  bool handled = false;
  int32_t reentryResult = -2;
  rg_WenBenShuZuLei names = ListOf({L"mine"});
  rg_WenBenShuZuLei pageUrls = ListOf({L"mine too"});
  rg_WenBenShuZuLei downloadUrls;
};

TEST(ResolverWait, HandlesMessagesAndRefusesACallReenteredMeanwhile) {
  // The listing's answer is held back until the window has handled its message, so the
  // call cannot return before that.
  HeldServer server(
      R"({"data":{"node_list":["n1"],"entities":{"nodes":{"n1":{"name":"held.bin","url":"http://h/file/n1",)"
      R"("extra":{"subtype":"bin"}}}}}})");
  ASSERT_TRUE(server.Listening());
  DriveEndpoints endpoints = DriveEndpoints::Built();
  endpoints.listOrigin = CWString(server.Origin());
  rg_n1565 resolver(endpoints);
  ProbeWindow probe(resolver, server);
  ASSERT_TRUE(probe.window);
  ASSERT_TRUE(PostMessageW(probe.window.Get(), kProbeMessage, 0, 0));

  rg_WenBenShuZuLei names, pageUrls, downloadUrls;
  EXPECT_EQ(resolver.ResolveFeishuFolder(CWString(L"http://h/drive/folder/tok"), names, pageUrls, downloadUrls), 1);
  EXPECT_TRUE(probe.handled);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"held.bin"}));

  // The second call neither listed nor touched its lists nor disturbed the first.
  EXPECT_EQ(probe.reentryResult, 0);
  EXPECT_EQ(Items(probe.names), (std::vector<std::wstring>{L"mine"}));
  EXPECT_EQ(Items(probe.pageUrls), (std::vector<std::wstring>{L"mine too"}));
  EXPECT_EQ(probe.downloadUrls.Count(), 0);
  EXPECT_NE(server.RequestHead().find("token=tok"), std::string::npos);
}

TEST(ResolverLife, DestructionStopsThePool) {
  auto resolver = std::make_unique<rg_n1565>();
  CKelRefPtr<THREADPOOL_INFO> pool = resolver->taskPool.Info();
  ASSERT_TRUE(pool);
  EXPECT_EQ(pool->state.load(), THREADPOOL_INFO::kRunning);
  EXPECT_EQ(static_cast<uint32_t>(pool->liveThreads.load()), resolver->taskPool.cpuCount + 1);
  EXPECT_EQ(resolver->feishuStatus.load(), -1);
  EXPECT_EQ(resolver->lanzouStatus.load(), -1);
  resolver.reset();
  // The pool waits for its idle workers before it lets go.
  EXPECT_EQ(pool->state.load(), THREADPOOL_INFO::kStopping);
  EXPECT_EQ(pool->liveThreads.load(), 0);
}

TEST(ResolverParameters, CopiesCompareAndSerialiseEveryField) {
  rg_n1660 task;
  EXPECT_TRUE(task.shareAddress.IsEmpty());
  EXPECT_EQ(task.makeDownloadUrls, 0);
  EXPECT_EQ(task.keepFolderNames, 0);
  task.shareAddress = L"https://a.example/s/x";
  task.makeDownloadUrls = 1;
  task.password = L"pw";
  task.filePasswords.Add(L"", L"p2");
  task.keepFolderNames = 1;

  std::unique_ptr<CKelObject, void (*)(CKelObject*)> clone(task.Clone(), [](CKelObject* o) { o->Delete(); });
  ASSERT_TRUE(clone);
  EXPECT_TRUE(task.Equals(*clone));
  rg_n1660 other = task;
  other.filePasswords.Add(L"p3");
  EXPECT_FALSE(task.Equals(other));

  CKelMem bytes;
  CKelMemStream stream(bytes);
  ASSERT_TRUE(task.WriteTo(stream));
  rg_n1660 read;
  ASSERT_TRUE(read.ReadFrom(stream));
  EXPECT_TRUE(read.Equals(task));
  EXPECT_EQ(stream.ReadPosition(), bytes.Size());
}

}  // namespace
