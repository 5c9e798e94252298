#include "emulator_client.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "files.h"
#include "json/json_reader.h"
#include "net/http.h"
#include "runtime/convert.h"
#include "runtime/win_handles.h"

namespace {

// Set by the ctest fixture: the Unix path of the folder holding ports.json.
constexpr const wchar_t* kStateDirVariable = L"BM_DRIVE_EMULATOR_DIR";

std::wstring Lower(std::wstring_view text) {
  std::wstring out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return out;
}

CWString Exchange(const std::wstring& url, int32_t method, const std::wstring& body, int32_t& status) {
  rg_WangLaoFangWenLei_n http;
  rg_WangYeFangWenXiangYingLei_n response;
  CWString cookies, headers;
  const CWString none;
  CWString text = http.SendRequestText(CWString(url), method, CWString(body), CKelMem(), none, none, 0, cookies,
                                       headers, none, none, none, 15000, 1, NoAcceptEncoding(), response);
  status = response.statusCode;
  return text;
}

}  // namespace

std::wstring LoggedRequest::Header(std::wstring_view name) const {
  const std::wstring wanted = Lower(name);
  for (const auto& [key, value] : headers) {
    if (Lower(key) == wanted) return value;
  }
  return std::wstring();
}

std::vector<std::wstring> LoggedRequest::HeaderNames() const {
  std::vector<std::wstring> names;
  for (const auto& header : headers) names.push_back(Lower(header.first));
  std::sort(names.begin(), names.end());
  return names;
}

EmulatorClient::EmulatorClient() {
  wchar_t unixPath[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(kStateDirVariable, unixPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    problem_ = std::wstring(kStateDirVariable) + L" is not set: run the tests through ctest, which starts the emulator";
    return;
  }
  std::wstring path = L"Z:" + std::wstring(unixPath, n) + L"/ports.json";
  std::replace(path.begin(), path.end(), L'/', L'\\');
  std::string json;
  rg_JSONDuiXiangLei_n ports;
  if (!ReadFileBytes(path, json) || !ports.ParseUtf8(json.data(), json.size())) {
    problem_ = L"cannot read " + path;
    return;
  }
  httpPort_ = static_cast<int>(TextToInt64(ports.GetText(L"http")));
  tlsPort_ = static_cast<int>(TextToInt64(ports.GetText(L"tls")));
  if (!Ready()) problem_ = L"no ports in " + path;
}

std::wstring EmulatorClient::HttpOrigin() const { return L"http://127.0.0.1:" + std::to_wstring(httpPort_); }

std::wstring EmulatorClient::TlsOrigin() const { return L"https://127.0.0.1:" + std::to_wstring(tlsPort_); }

DriveEndpoints EmulatorClient::Endpoints() const {
  DriveEndpoints endpoints = DriveEndpoints::Built();
  endpoints.listOrigin = CWString(HttpOrigin());
  endpoints.downloadOrigin = CWString(HttpOrigin());
  // "https://127." + this composes back to the emulator's TLS address.
  endpoints.lanzouDomain = CWString(L"0.0.1:" + std::to_wstring(tlsPort_));
  // The emulator does not throttle; its faults are counted, not timed.
  endpoints.listRetryPausesMs = {20, 60};
  return endpoints;
}

bool EmulatorClient::Control(const std::wstring& json) {
  int32_t status = 0;
  Exchange(HttpOrigin() + L"/__control", http_method::kPost, json, status);
  return status == 200;
}

int64_t EmulatorClient::LastSeq() {
  int32_t status = 0;
  rg_JSONDuiXiangLei_n answer;
  // Far ahead of any sequence number: the answer carries only "last".
  answer.Parse(Exchange(HttpOrigin() + L"/__requests?since=9000000000", http_method::kGet, L"", status));
  return TextToInt64(answer.GetText(L"last"));
}

int64_t EmulatorClient::TlsRefused() {
  int32_t status = 0;
  rg_JSONDuiXiangLei_n state;
  state.Parse(Exchange(HttpOrigin() + L"/__control", http_method::kGet, L"", status));
  return TextToInt64(state.GetText(L"tls_refused"));
}

int64_t EmulatorClient::TlsRefusedAfter(int64_t before, int64_t expected) {
  for (int i = 0; i < 500 && TlsRefused() < before + expected; ++i) Sleep(20);
  Sleep(300);
  return TlsRefused();
}

std::vector<LoggedRequest> EmulatorClient::RequestsSince(int64_t seq) {
  int32_t status = 0;
  rg_JSONDuiXiangLei_n answer;
  answer.Parse(Exchange(HttpOrigin() + L"/__requests?since=" + std::to_wstring(seq), http_method::kGet, L"", status));
  std::vector<LoggedRequest> requests;
  const int64_t count = answer.GetCount(L"/requests");
  for (int64_t i = 0; i < count; ++i) {
    const std::wstring at = L"/requests/" + std::to_wstring(i) + L"/";
    LoggedRequest request;
    request.port = answer.GetText(at + L"port").ToStdString();
    request.method = answer.GetText(at + L"method").ToStdString();
    request.target = answer.GetText(at + L"target").ToStdString();
    request.body = answer.GetText(at + L"body").ToStdString();
    const int64_t headerCount = answer.GetCount(at + L"headers");
    for (int64_t h = 0; h < headerCount; ++h) {
      const std::wstring header = at + L"headers/" + std::to_wstring(h) + L"/";
      request.headers.emplace_back(answer.GetText(header + L"0").ToStdString(),
                                   answer.GetText(header + L"1").ToStdString());
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

std::wstring JsonQuote(std::wstring_view text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    switch (c) {
      case L'"':
        out += L"\\\"";
        break;
      case L'\\':
        out += L"\\\\";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\r':
        out += L"\\r";
        break;
      case L'\t':
        out += L"\\t";
        break;
      default:
        if (c < 0x20) {
          wchar_t escaped[8];
          swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + L"\"";
}
