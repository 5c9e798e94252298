#include "engine/rpc_requests.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <initializer_list>
#include <string>

#include "net/url.h"
#include "runtime/convert.h"

// "令牌" stands for the RPC secret the running engine was started with; every text has it.
const CWConstString getVersionRequest(
    L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.getVersion\",\"params\":[\"token:令牌\"],\"id\":1}");
const CWConstString shutdownRequest(
    L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.shutdown\",\"params\":[\"token:令牌\"],\"id\":1}");
const CWConstString addUriRequest(
    L"{\r\n"
    L"\t\"jsonrpc\": \"2.0\",\r\n"
    L"\t\"method\": \"aria2.addUri\",\r\n"
    L"\t\"params\": [\"token:令牌\", [\"下载链接\"], {\r\n"
    L"\t\t\"dir\": \"保存目录\",\r\n"
    L"\t\t\"out\":\"文件名\",\r\n"
    L"\t\t\"referer\": \"引用页面\",\r\n"
    L"\t\t\"header\": \"头信息\",\r\n"
    L"\t\t\"user-agent\": \"用户代理\",\r\n"
    L"\t\t\"split\": \"下载线程\",\r\n"
    L"\t\t\"continue\": \"断点续传\",\r\n"
    L"\t\t\"file-allocation\": \"分配模式\",\r\n"
    L"校验选项\t\t\"max-tries\": \"0\"\r\n"
    L"\t}],\r\n"
    L"\t\"id\": 1\r\n"
    L"}");
const CWConstString tellStatusRequest(
    L"{\r\n"
    L"\t\"jsonrpc\": \"2.0\",\r\n"
    L"\t\"method\": \"aria2.tellStatus\",\r\n"
    L"\t\"id\": 1,\r\n"
    L"\t\"params\": [\r\n"
    L"\t\t\"token:令牌\",\r\n"
    L"\t\t\"查询任务\", [\r\n"
    L"\t\t\t\"gid\",\r\n"
    L"\t\t\t\"status\",\r\n"
    L"\t\t\t\"errorCode\",\r\n"
    L"\t\t\t\"totalLength\",\r\n"
    L"\t\t\t\"completedLength\",\r\n"
    L"\t\t\t\"connections\",\r\n"
    L"\t\t\t\"numSeeders\",\r\n"
    L"\t\t\t\"downloadSpeed\",\r\n"
    L"\t\t\t\"uploadSpeed\",\r\n"
    L"                        \"followedBy\",\r\n"
    L"                        \"dir\",\r\n"
    L"                        \"files\",\r\n"
    L"                        \"bittorrent\"\r\n"
    L"\t\t]\r\n"
    L"\t]\r\n"
    L"}");
// One look at every open task: the tasks' tellStatus calls in one system.multicall, each
// asking only the keys the rows and the run read ("调用" stands for the calls, comma-separated).
const CWConstString statusLookRequest(
    L"{\"jsonrpc\":\"2.0\",\"method\":\"system.multicall\",\"id\":1,\"params\":[[调用]]}");
const CWConstString statusLookCall(
    L"{\"methodName\":\"aria2.tellStatus\",\"params\":[\"token:令牌\",\"查询任务\",[\"gid\",\"status\",\"errorCode\","
    L"\"totalLength\",\"completedLength\",\"downloadSpeed\",\"followedBy\",\"files\",\"verifiedLength\","
    L"\"verifyIntegrityPending\"]]}");
// Asked only of a task that ended with an unexpected HTTP answer: its message names the status.
const CWConstString errorMessageRequest(
    L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.tellStatus\",\"id\":1,"
    L"\"params\":[\"token:令牌\",\"查询任务\",[\"errorMessage\"]]}");
// Stops a task at once; its file and control file stay, so a later add continues it.
const CWConstString forceRemoveRequest(
    L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.forceRemove\",\"id\":1,\"params\":[\"token:令牌\",\"查询任务\"]}");
const CWConstString maxConcurrentRequest(
    L"{\r\n"
    L"    \"jsonrpc\":\"2.0\",\r\n"
    L"    \"method\":\"aria2.changeGlobalOption\",\r\n"
    L"    \"id\":1,\r\n"
    L"    \"params\":[\r\n"
    L"        \"token:令牌\",\r\n"
    L"        {\r\n"
    L"            \"max-concurrent-downloads\":\"最大同时下载数\"\r\n"
    L"        }\r\n"
    L"    ]\r\n"
    L"}");

// The proxy every download goes through ("host:port"); an empty one means none.
const CWConstString proxyRequest(
    L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.changeGlobalOption\",\"id\":1,"
    L"\"params\":[\"token:令牌\",{\"all-proxy\":\"代理服务器\"}]}");

namespace {

struct Placeholder {
  CWTextRef word;
  CWTextRef value;
};

bool MatchesAt(const wchar_t* text, int64_t length, int64_t at, CWTextRef word) {
  if (word.Length() == 0 || at + word.Length() > length) return false;
  for (int64_t i = 0; i < word.Length(); ++i) {
    if (text[at + i] != word.Chars()[i]) return false;
  }
  return true;
}

// One left-to-right scan: every placeholder word is replaced by its value, and values are
// never scanned again.
CWString Fill(const CWString& request, std::initializer_list<Placeholder> placeholders) {
  CWString out;
  const wchar_t* text = request.GetText();
  const int64_t length = request.Length();
  int64_t copiedUpTo = 0;
  int64_t at = 0;
  while (at < length) {
    const Placeholder* found = nullptr;
    for (const Placeholder& p : placeholders) {
      if (MatchesAt(text, length, at, p.word)) {
        found = &p;
        break;
      }
    }
    if (!found) {
      ++at;
      continue;
    }
    out.Append(CWTextRef(text + copiedUpTo, at - copiedUpTo));
    out.Append(found->value);
    at += found->word.Length();
    copiedUpTo = at;
  }
  out.Append(CWTextRef(text + copiedUpTo, length - copiedUpTo));
  return out;
}

void AppendEscaped(CWString& out, wchar_t unit) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  switch (unit) {
    case L'"':
      out.Append(L"\\\"");
      return;
    case L'\\':
      out.Append(L"\\\\");
      return;
    case L'\n':
      out.Append(L"\\n");
      return;
    case L'\r':
      out.Append(L"\\r");
      return;
    case L'\t':
      out.Append(L"\\t");
      return;
    default:
      break;
  }
  if (unit < 0x20) {
    out.Append(L"\\u00");
    out.AppendChar(kHex[unit >> 4]);
    out.AppendChar(kHex[unit & 15]);
    return;
  }
  out.AppendChar(unit);
}

}  // namespace

CWString NewRpcSecret() {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  unsigned char bytes[16];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return CWString();
  }
  CWString secret;
  for (unsigned char byte : bytes) {
    secret.AppendChar(kHex[byte >> 4]);
    secret.AppendChar(kHex[byte & 15]);
  }
  SecureZeroMemory(bytes, sizeof bytes);
  return secret;
}

CWString JsonEscape(CWTextRef value) {
  CWString out;
  for (int64_t i = 0; i < value.Length(); ++i) AppendEscaped(out, value.Chars()[i]);
  return out;
}

CWString JsonFolder(CWTextRef folder) {
  CWString out;
  for (int64_t i = 0; i < folder.Length(); ++i) {
    const wchar_t unit = folder.Chars()[i];
    if (unit == L'\\') {
      out.Append(L"\\/");
    } else {
      AppendEscaped(out, unit);
    }
  }
  // "D:\" would become "D:", which names the drive's current folder rather than its root.
  const bool driveRoot = out.Length() == 4 && out[1] == L':';
  if (!driveRoot && out.Length() >= 2 && out.View().ends_with(L"\\/")) out.SetLength(out.Length() - 2);
  return out;
}

CWString RpcGetUrl(CWTextRef base, CWTextRef request) {
  const CKelMem utf8 = TextToUtf8(CWString(request), false, false);
  std::wstring digits;
  if (!utf8.IsEmpty()) {
    constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const auto size = static_cast<DWORD>(utf8.Size());
    DWORD length = 0;
    if (!CryptBinaryToStringW(utf8.Data(), size, kFlags, nullptr, &length)) return CWString();
    digits.resize(length);
    if (!CryptBinaryToStringW(utf8.Data(), size, kFlags, digits.data(), &length)) return CWString();
    digits.resize(length);
  }
  // "+", "/" and "=" escaped: a query would read "+" as a space.
  CWString url = CWString(base) + L"&params=" + PercentEncode(CWString(digits));
  return url.Length() > kRpcGetUrlLimit ? CWString() : url;
}

CWString MakeGetVersionRequest(CWTextRef secret) {
  const CWString escaped = JsonEscape(secret);
  return Fill(getVersionRequest, {{L"令牌", escaped}});
}

CWString MakeShutdownRequest(CWTextRef secret) {
  const CWString escaped = JsonEscape(secret);
  return Fill(shutdownRequest, {{L"令牌", escaped}});
}

CWString MakeAddUriRequest(CWTextRef secret, CWTextRef url, CWTextRef jsonFolder, CWTextRef name, CWTextRef referer,
                           CWTextRef header, CWTextRef userAgent, CWTextRef sha256) {
  const CWString escapedSecret = JsonEscape(secret);
  const CWString escapedUrl = JsonEscape(url);
  const CWString escapedName = JsonEscape(name);
  const CWString escapedReferer = JsonEscape(referer);
  const CWString escapedHeader = JsonEscape(header);
  const CWString escapedAgent = JsonEscape(userAgent);
  // The engine checks the whole file against the hash when it has all its bytes, and a file
  // of the full length it finds before fetching (check-integrity); a file that fails starts
  // again from its first byte.
  CWString verification;
  if (!sha256.IsEmpty()) {
    verification = CWString(L"\t\t\"checksum\": \"sha-256=") + JsonEscape(sha256) +
                   L"\",\r\n\t\t\"check-integrity\": \"true\",\r\n";
  }
  return Fill(addUriRequest, {{L"令牌", escapedSecret},
                              {L"下载链接", escapedUrl},
                              {L"保存目录", jsonFolder},
                              {L"文件名", escapedName},
                              {L"引用页面", escapedReferer},
                              {L"头信息", escapedHeader},
                              {L"用户代理", escapedAgent},
                              {L"下载线程", L"32"},
                              {L"断点续传", L"true"},
                              {L"分配模式", L"prealloc"},
                              {L"校验选项", verification}});
}

CWString MakeTellStatusRequest(CWTextRef secret, CWTextRef taskId) {
  const CWString escapedSecret = JsonEscape(secret);
  const CWString escaped = JsonEscape(taskId);
  return Fill(tellStatusRequest, {{L"令牌", escapedSecret}, {L"查询任务", escaped}});
}

CWString MakeStatusLookRequest(CWTextRef secret, const std::vector<CWString>& taskIds) {
  const CWString escapedSecret = JsonEscape(secret);
  CWString calls;
  for (const CWString& id : taskIds) {
    if (!calls.IsEmpty()) calls.AppendChar(L',');
    const CWString escaped = JsonEscape(id);
    calls.Append(Fill(statusLookCall, {{L"令牌", escapedSecret}, {L"查询任务", escaped}}));
  }
  return Fill(statusLookRequest, {{L"调用", calls}});
}

CWString StatusLookPath(size_t index) {
  CWString path(L"/result/");
  path.AppendInteger(static_cast<int>(index));
  return path;
}

CWString MakeErrorMessageRequest(CWTextRef secret, CWTextRef taskId) {
  const CWString escapedSecret = JsonEscape(secret);
  const CWString escaped = JsonEscape(taskId);
  return Fill(errorMessageRequest, {{L"令牌", escapedSecret}, {L"查询任务", escaped}});
}

CWString MakeForceRemoveRequest(CWTextRef secret, CWTextRef taskId) {
  const CWString escapedSecret = JsonEscape(secret);
  const CWString escaped = JsonEscape(taskId);
  return Fill(forceRemoveRequest, {{L"令牌", escapedSecret}, {L"查询任务", escaped}});
}

CWString MakeMaxConcurrentRequest(CWTextRef secret, CWTextRef count) {
  const CWString escapedSecret = JsonEscape(secret);
  const CWString escaped = JsonEscape(count);
  return Fill(maxConcurrentRequest, {{L"令牌", escapedSecret}, {L"最大同时下载数", escaped}});
}

CWString MakeProxyRequest(CWTextRef secret, CWTextRef proxy) {
  const CWString escapedSecret = JsonEscape(secret);
  const CWString escaped = JsonEscape(proxy);
  return Fill(proxyRequest, {{L"令牌", escapedSecret}, {L"代理服务器", escaped}});
}

RpcReply::RpcReply(const CWString& reply) : parsed_(json_.Parse(reply)) {}

bool RpcReply::HasResult() { return parsed_ && json_.HasPath(L"/result"); }

bool RpcReply::Has(const CWString& path) { return parsed_ && json_.HasPath(path); }

CWString RpcReply::Text(const CWString& path) {
  if (!HasResult() || !json_.HasPath(path)) return CWString();
  return json_.GetText(path);
}

CWString ReadResult(const CWString& reply, const CWString& path) { return RpcReply(reply).Text(path); }
