#include "net/url.h"

#include <cwctype>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/convert.h"

namespace {

// Buffer sizes WinHTTP gets when it has to write the parts itself.
constexpr DWORD kSchemeUnits = 10;
constexpr DWORD kNameUnits = 256;
constexpr DWORD kPathUnits = 2048;

void CopyPart(CWString& to, const wchar_t* chars, DWORD length) {
  if (length > 0) to.SetChars(chars, length);
}

bool WriteText(CKelStream& stream, const CWString& text) { return text.WriteTo(stream); }

// RFC 3986 dot-segment removal on a path that begins with "/".
std::wstring RemoveDotSegments(std::wstring_view path) {
  std::wstring out;
  while (!path.empty()) {
    if (path.starts_with(L"/./")) {
      path.remove_prefix(2);
    } else if (path == L"/.") {
      path = L"/";
    } else if (path.starts_with(L"/../") || path == L"/..") {
      path = path.size() == 3 ? std::wstring_view(L"/") : path.substr(3);
      size_t cut = out.rfind(L'/');
      out.erase(cut == std::wstring::npos ? 0 : cut);
    } else {
      size_t next = path.find(L'/', 1);
      if (next == std::wstring_view::npos) next = path.size();
      out.append(path.substr(0, next));
      path.remove_prefix(next);
    }
  }
  return out.empty() ? L"/" : out;
}

// "scheme:" at the start of a reference (letters first, then letters, digits, + - .).
std::wstring_view SchemeOf(std::wstring_view ref) {
  for (size_t i = 0; i < ref.size(); ++i) {
    wchar_t c = ref[i];
    bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    if (c == L':') return i > 0 ? ref.substr(0, i) : std::wstring_view();
    if (!letter && !(i > 0 && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'))) break;
  }
  return {};
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (towlower(a[i]) != towlower(b[i])) return false;
  }
  return true;
}

// Path and query of an absolute reference rebuilt with its dot segments removed.
std::wstring NormalisePathAndQuery(std::wstring_view pathAndQuery) {
  size_t query = pathAndQuery.find(L'?');
  std::wstring_view path = pathAndQuery.substr(0, query);
  std::wstring out = RemoveDotSegments(path.empty() ? std::wstring_view(L"/") : path);
  if (query != std::wstring_view::npos) out.append(pathAndQuery.substr(query));
  return out;
}

}  // namespace

bool rg_WangLaoURLZuJianXinXiLei_n::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& o = static_cast<const rg_WangLaoURLZuJianXinXiLei_n&>(other);
  return scheme == o.scheme && schemeType == o.schemeType && host == o.host && port == o.port &&
         userName == o.userName && password == o.password && urlPath == o.urlPath && extraInfo == o.extraInfo;
}

void rg_WangLaoURLZuJianXinXiLei_n::DebugText(CWString& out, int64_t) const {
  out.Assign(L"<网络URL组件信息类_> 总共 8 个成员:\r\n");
  for (const wchar_t* label : {L"1.协议: ", L"2.协议类型: ", L"3.域名: ", L"4.端口: ", L"5.用户名: ", L"6.密码: ",
                               L"7.路径: ", L"8.附加信息: "}) {
    out.Append(label);
    out.Append(L"\r\n");
  }
}

bool rg_WangLaoURLZuJianXinXiLei_n::ReadFrom(CKelStream& stream) {
  return scheme.ReadFrom(stream) && stream.ReadInt32(schemeType) && host.ReadFrom(stream) && stream.ReadInt32(port) &&
         userName.ReadFrom(stream) && password.ReadFrom(stream) && urlPath.ReadFrom(stream) &&
         extraInfo.ReadFrom(stream);
}

bool rg_WangLaoURLZuJianXinXiLei_n::WriteTo(CKelStream& stream) const {
  return WriteText(stream, scheme) && stream.WriteInt32(schemeType) && WriteText(stream, host) &&
         stream.WriteInt32(port) && WriteText(stream, userName) && WriteText(stream, password) &&
         WriteText(stream, urlPath) && WriteText(stream, extraInfo);
}

bool rg_WangLaoDaiLiXinXiLei_n::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& o = static_cast<const rg_WangLaoDaiLiXinXiLei_n&>(other);
  return proxyAccessType == o.proxyAccessType && proxyServer == o.proxyServer && proxyBypassList == o.proxyBypassList;
}

void rg_WangLaoDaiLiXinXiLei_n::DebugText(CWString& out, int64_t) const {
  out.Assign(L"<网络代理信息类_> 总共 3 个成员:\r\n");
  for (const wchar_t* label : {L"1.访问类型: ", L"2.代理服务器: ", L"3.代理跳过列表: "}) {
    out.Append(label);
    out.Append(L"\r\n");
  }
}

bool rg_WangLaoDaiLiXinXiLei_n::ReadFrom(CKelStream& stream) {
  return stream.ReadInt32(proxyAccessType) && proxyServer.ReadFrom(stream) && proxyBypassList.ReadFrom(stream);
}

bool rg_WangLaoDaiLiXinXiLei_n::WriteTo(CKelStream& stream) const {
  return stream.WriteInt32(proxyAccessType) && WriteText(stream, proxyServer) && WriteText(stream, proxyBypassList);
}

bool CrackUrl(const CWString& url, rg_WangLaoURLZuJianXinXiLei_n& components, DWORD flags) {
  components.Reset();
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  std::unique_ptr<wchar_t[]> buffers;
  if ((flags & (ICU_ESCAPE | ICU_DECODE)) != 0) {
    // WinHTTP rewrites the parts, so it needs room of its own for each.
    buffers = std::make_unique<wchar_t[]>(kSchemeUnits + 3 * kNameUnits + 2 * kPathUnits);
    wchar_t* next = buffers.get();
    auto take = [&next](DWORD units) { return std::exchange(next, next + units); };
    parts.lpszScheme = take(kSchemeUnits), parts.dwSchemeLength = kSchemeUnits;
    parts.lpszHostName = take(kNameUnits), parts.dwHostNameLength = kNameUnits;
    parts.lpszUserName = take(kNameUnits), parts.dwUserNameLength = kNameUnits;
    parts.lpszPassword = take(kNameUnits), parts.dwPasswordLength = kNameUnits;
    parts.lpszUrlPath = take(kPathUnits), parts.dwUrlPathLength = kPathUnits;
    parts.lpszExtraInfo = take(kPathUnits), parts.dwExtraInfoLength = kPathUnits;
  } else {
    // Non-zero lengths without buffers ask for pointers into the URL itself.
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength =
        parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  }
  if (!WinHttpCrackUrl(url.GetText(), static_cast<DWORD>(url.Length()), flags, &parts)) return false;
  CopyPart(components.scheme, parts.lpszScheme, parts.dwSchemeLength);
  components.schemeType = static_cast<int32_t>(parts.nScheme);
  CopyPart(components.host, parts.lpszHostName, parts.dwHostNameLength);
  components.port = parts.nPort;
  CopyPart(components.userName, parts.lpszUserName, parts.dwUserNameLength);
  CopyPart(components.password, parts.lpszPassword, parts.dwPasswordLength);
  CopyPart(components.urlPath, parts.lpszUrlPath, parts.dwUrlPathLength);
  CopyPart(components.extraInfo, parts.lpszExtraInfo, parts.dwExtraInfoLength);
  return true;
}

WINHTTP_PROXY_INFO ToProxyInfo(const rg_WangLaoDaiLiXinXiLei_n& proxy) {
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = static_cast<DWORD>(proxy.proxyAccessType);
  // WinHTTP only reads these texts; its record is simply not const-qualified.
  info.lpszProxy = const_cast<wchar_t*>(proxy.proxyServer.GetText());
  info.lpszProxyBypass = const_cast<wchar_t*>(proxy.proxyBypassList.GetText());
  return info;
}

CWString ResolveRedirectUrl(const CWString& base, const CWString& location) {
  std::wstring_view ref = location.View();
  ref = ref.substr(0, ref.find(L'#'));
  std::wstring_view baseText = base.View();
  baseText = baseText.substr(0, baseText.find(L'#'));
  if (ref.empty() && location.IsEmpty()) return {};

  std::wstring_view scheme = SchemeOf(ref);
  if (!scheme.empty()) {
    if (!EqualsIgnoreCase(scheme, L"http") && !EqualsIgnoreCase(scheme, L"https")) return {};
    return CWString(std::wstring(ref));
  }

  size_t authority = baseText.find(L"://");
  if (authority == std::wstring_view::npos) return {};
  if (ref.starts_with(L"//")) return CWString(std::wstring(baseText.substr(0, authority + 1)) + std::wstring(ref));

  size_t pathStart = baseText.find_first_of(L"/?", authority + 3);
  if (pathStart == std::wstring_view::npos) pathStart = baseText.size();
  std::wstring result(baseText.substr(0, pathStart));
  std::wstring_view basePathAndQuery = baseText.substr(pathStart);
  std::wstring_view basePath = basePathAndQuery.substr(0, basePathAndQuery.find(L'?'));
  if (basePath.empty()) basePath = L"/";

  if (ref.empty()) {
    result.append(NormalisePathAndQuery(basePathAndQuery));
  } else if (ref.starts_with(L'/')) {
    result.append(NormalisePathAndQuery(ref));
  } else if (ref.starts_with(L'?')) {
    result.append(RemoveDotSegments(basePath)).append(ref);
  } else {
    std::wstring merged(basePath.substr(0, basePath.rfind(L'/') + 1));
    merged.append(ref);
    result.append(NormalisePathAndQuery(merged));
  }
  return CWString(result);
}

CWString PercentEncode(const CWString& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const CKelMem utf8 = TextToUtf8(text, false, false);
  std::wstring out;
  out.reserve(static_cast<size_t>(utf8.Size()) * 3);
  for (int64_t i = 0; i < utf8.Size(); ++i) {
    const unsigned char c = utf8.Data()[i];
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<wchar_t>(c);
    } else {
      out += L'%';
      out += static_cast<wchar_t>(kHex[c >> 4]);
      out += static_cast<wchar_t>(kHex[c & 15]);
    }
  }
  return CWString(out.c_str());
}
