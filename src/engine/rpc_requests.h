// The JSON-RPC request texts the engine is driven with, how values go into them, and how a
// reply is read back by path. The texts are process-wide templates whose "令牌" stands for
// the RPC secret of the running engine; the functions are pure and any thread may call them.
#pragma once

#include <cstdint>
#include <vector>

#include "json/json_tx.h"
#include "runtime/text.h"

extern const CWConstString getVersionRequest;
extern const CWConstString shutdownRequest;
extern const CWConstString addUriRequest;
extern const CWConstString tellStatusRequest;
extern const CWConstString maxConcurrentRequest;

// A new RPC secret: 16 bytes of the system's cryptographic generator as 32 lowercase hex
// digits; "" when the generator fails (the engine is then not started with a weaker one).
CWString NewRpcSecret();

// What a JSON string holds between its quotes for value: quotes, backslashes and control
// characters escaped, everything else as it is.
CWString JsonEscape(CWTextRef value);
// The save folder as the addUri request carries it: every backslash followed by "/", the
// closing separator dropped (except after a drive, whose root needs it). The folder
// D:\Games\Fold\ reads D:\/Games\/Fold, which the engine sees as D:/Games/Fold.
// folder ends with a backslash.
CWString JsonFolder(CWTextRef folder);

// Each request signed with the engine's secret ("token:" + secret). The addUri request is for
// one download: jsonFolder comes from JsonFolder; the other values are escaped here; with a
// sha256 (hex), the engine checks the file against it. Each
// placeholder is filled once, so a value that happens to contain another placeholder word is
// not touched.
CWString MakeGetVersionRequest(CWTextRef secret);
CWString MakeShutdownRequest(CWTextRef secret);
CWString MakeAddUriRequest(CWTextRef secret, CWTextRef url, CWTextRef jsonFolder, CWTextRef name, CWTextRef referer,
                           CWTextRef header, CWTextRef userAgent, CWTextRef sha256 = CWTextRef(L""));
CWString MakeTellStatusRequest(CWTextRef secret, CWTextRef taskId);
// One request for the status of every task of taskIds: a system.multicall of their
// tellStatus calls. Answer i sits at StatusLookPath(i): a list of the task's status (at
// "/0" of it), or an error object (code, message).
CWString MakeStatusLookRequest(CWTextRef secret, const std::vector<CWString>& taskIds);
CWString StatusLookPath(size_t index);
CWString MakeErrorMessageRequest(CWTextRef secret, CWTextRef taskId);
CWString MakeForceRemoveRequest(CWTextRef secret, CWTextRef taskId);
CWString MakeMaxConcurrentRequest(CWTextRef secret, CWTextRef count);
// The proxy ("host:port", "" for none) the engine's every download goes through.
CWString MakeProxyRequest(CWTextRef secret, CWTextRef proxy);

// Where a request may travel as a GET: base (the endpoint with its "?tm=" query) followed by
// "&params=" and the request's UTF-8 in base64, percent-escaped. The engine takes "params" as
// the whole request when the query names no method, so the text arrives as it stands, in the
// request's head alone: one send on any stack, where a POST's body may leave in a send of its
// own and wait for the head's acknowledgement. "" when that URL would pass
// kRpcGetUrlLimit characters (or the platform cannot encode it); such a request is POSTed.
inline constexpr int64_t kRpcGetUrlLimit = 8000;
CWString RpcGetUrl(CWTextRef base, CWTextRef request);

// One engine reply, parsed once and read by JSON Pointer paths below "/result".
class RpcReply {
 public:
  explicit RpcReply(const CWString& reply);

  // The reply was JSON.
  bool Parsed() const { return parsed_; }
  // The reply carries a result (an error reply does not).
  bool HasResult();
  // An object's member (of any kind) sits at path.
  bool Has(const CWString& path);
  // The string at path when "/result" and path both exist; "" otherwise (numbers, arrays and
  // objects read "" too).
  CWString Text(const CWString& path);

 private:
  rg_JSONLei_TX json_;
  bool parsed_;
};

// The string at path of one reply (see RpcReply::Text); "" when the reply is not JSON.
CWString ReadResult(const CWString& reply, const CWString& path);
