#include "engine/display_texts.h"

#include <cmath>
#include <cstdint>

#include "runtime/arrays.h"
#include "runtime/convert.h"

namespace {

// Row k describes the engine's exit status k, in the engine's published order.
const CWConstString errorTexts(
    L"未知错误\r\n"
    L"任务超时\r\n"
    L"找不到资源\r\n"
    L"指定数量的“资源未找到”错误\r\n"
    L"下载失败，因为下载速度太慢\r\n"
    L"网络问题\r\n"
    L"还有未完成的下载\r\n"
    L"当需要完成下载时，远程服务器不支持恢复\r\n"
    L"磁盘空间不足\r\n"
    L"块长度错误\r\n"
    L"请勿下载相同文件\r\n"
    L"请勿下载相同的信息散列的洪流\r\n"
    L"文件已经存在\r\n"
    L"重命名文件失败\r\n"
    L"不能打开已有文件\r\n"
    L"不能创建新的文件\r\n"
    L"发生文件I/O错误\r\n"
    L"无法创建目录\r\n"
    L"名称解析失败\r\n"
    L"无法解析该文档\r\n"
    L"FTP命令失败\r\n"
    L"HTTP响应超时或响应错误\r\n"
    L"太多改变发生\r\n"
    L"HTTP授权失败\r\n"
    L"无法解析bencoded文件（通常是“种子”文件）\r\n"
    L"“种子”文件被损坏或丢失的信息\r\n"
    L"磁力链不正确\r\n"
    L"不正确参数\r\n"
    L"由于临时超载或维护，远程服务器无法处理请求\r\n"
    L"无法解析RPC请求\r\n"
    L"保留错误\r\n"
    L"校验和失败");

constexpr const wchar_t* kUnits[] = {L"KB", L"MB", L"GB", L"TB", L"PB"};

CWString NumberText(double value) {
  CWString text;
  text.AppendDouble(value);
  return text;
}

// Truncation towards zero that stays defined for values no integer holds.
int64_t TruncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9.2e18;
  if (value >= kLimit) return static_cast<int64_t>(kLimit);
  if (value <= -kLimit) return -static_cast<int64_t>(kLimit);
  return static_cast<int64_t>(value);
}

}  // namespace

CWString FormatSize(double bytes) {
  if (bytes < 1024) return NumberText(bytes) + L"Byte";
  int divisions = 0;
  // Stopping at six divisions keeps an infinite length from looping for ever.
  while (bytes >= 1024 && divisions < 6) {
    bytes *= 0.0009765625;
    ++divisions;
  }
  if (divisions >= 6) return CWString(L"MaxSize");
  return NumberText(RoundTo2(bytes)) + kUnits[divisions - 1];
}

CWString FormatPercent(double completed, double total) {
  double percent = completed / total * 100;
  if (percent > 100) percent = 0;
  const double nudge = percent < 0 ? -0.0000001 : 0.0000001;
  const double hundred = std::pow(10.0, 2);
  const double thousand = std::pow(10.0, 3);
  const double rounded = std::floor((percent + 5 / thousand) * hundred + nudge) / hundred;
  return NumberText(rounded) + L"%";
}

CWString FormatRemaining(double total, double completed, double speed) {
  const int64_t perSecond = TruncateToInt64(speed);
  if (perSecond < 1) return CWString(L"0:0:0");
  const int64_t seconds = (TruncateToInt64(total) - TruncateToInt64(completed)) / perSecond;
  const int64_t hours = seconds / 60 / 60;
  const int64_t minutes = seconds / 60 - hours * 60;
  const int64_t rest = seconds - (hours * 60 + minutes) * 60;
  CWString text;
  text.AppendInt64(hours);
  text.AppendChar(L':');
  text.AppendInt64(minutes);
  text.AppendChar(L':');
  text.AppendInt64(rest);
  return text;
}

CWString ErrorDescription(const CWString& code) {
  rg_WenBenShuZuLei rows;
  rows.SplitByText(errorTexts, L"\r\n");
  const int64_t k = TextToInt64(code);
  if (k >= 1 && k <= rows.Count()) return rows.Get(k - 1);
  // Shown in a list cell: a long or odd code is cut, and an empty one still says what failed.
  CWString text(L"未知错误代码：");
  if (code.IsEmpty()) {
    text.Append(L"（无）");
  } else {
    text.Append(code.Left(24));
  }
  return text;
}

CWString VerificationStateText(const CWString& verifiedLength, const CWString& verifyIntegrityPending) {
  if (!verifiedLength.IsEmpty() || verifyIntegrityPending == L"true") return CWString(L"校验中");
  return CWString();
}
