// The drive emulator that the test run starts beside the tests (tools/drive_emulator/fixture.py): its
// ports, its control endpoint and its request log. Used by the test thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resolve/drive_endpoints.h"

// One request as the emulator logged it.
struct LoggedRequest {
  std::wstring port;  // "http" or "tls"
  std::wstring method;
  std::wstring target;  // path and query as sent
  std::wstring body;
  std::vector<std::pair<std::wstring, std::wstring>> headers;  // in the order sent

  // The header's value ("" when missing); the name is compared without regard to case.
  std::wstring Header(std::wstring_view name) const;
  // The header names, lower-cased, sorted.
  std::vector<std::wstring> HeaderNames() const;
};

class EmulatorClient {
 public:
  // Reads the ports the fixture wrote; Problem() tells why when that failed.
  EmulatorClient();

  bool Ready() const { return httpPort_ > 0 && tlsPort_ > 0; }
  const std::wstring& Problem() const { return problem_; }

  std::wstring HttpOrigin() const;  // http://127.0.0.1:PORT
  std::wstring TlsOrigin() const;   // https://127.0.0.1:PORT
  // The emulator's hosts in place of the build's; cookie line and alternate label as built.
  DriveEndpoints Endpoints() const;

  // POSTs a control object; true when the emulator took it.
  bool Control(const std::wstring& json);
  // Sequence number of the last logged request (0 before the first).
  int64_t LastSeq();
  // TLS connections that ended before any request (the client did not trust the
  // certificate) since the last reset.
  int64_t TlsRefused();
  // The same once it has reached before + expected: the emulator's side of a connection ends
  // a moment after the client's. Waits at most 10 s for them, then 300 ms for any more.
  int64_t TlsRefusedAfter(int64_t before, int64_t expected);
  std::vector<LoggedRequest> RequestsSince(int64_t seq);

 private:
  std::wstring problem_;
  int httpPort_ = 0;
  int tlsPort_ = 0;
};

// text as a JSON string literal.
std::wstring JsonQuote(std::wstring_view text);
