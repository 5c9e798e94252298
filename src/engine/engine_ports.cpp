#include "engine/engine_ports.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <algorithm>
#include <memory>

#include "runtime/socket_handle.h"

namespace {

// Winsock for the length of one check.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool Started() const { return started_; }

 private:
  bool started_ = false;
};

bool FreeForExclusiveUse(int type, int protocol, int32_t port) {
  const UniqueSocket probe(socket(AF_INET, type, protocol));
  if (!probe) return false;
  BOOL exclusive = TRUE;
  if (setsockopt(probe.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive) != 0) {
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

using GetExtendedTcpTableFunction = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

// iphlpapi.dll is not one of the system's protected DLLs: it is looked up in the system
// folder only, never beside the program.
GetExtendedTcpTableFunction TcpTableFunction() {
  static const GetExtendedTcpTableFunction function = [] {
    HMODULE module = LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? reinterpret_cast<GetExtendedTcpTableFunction>(
                        reinterpret_cast<void*>(GetProcAddress(module, "GetExtendedTcpTable")))
                  : nullptr;
  }();
  return function;
}

}  // namespace

bool EnginePortsFree(int32_t rpcPort, int32_t listenPort, int32_t dhtPort) {
  const WinsockSession winsock;
  return winsock.Started() && FreeForExclusiveUse(SOCK_STREAM, IPPROTO_TCP, rpcPort) &&
         FreeForExclusiveUse(SOCK_STREAM, IPPROTO_TCP, listenPort) &&
         FreeForExclusiveUse(SOCK_DGRAM, IPPROTO_UDP, dhtPort);
}

std::vector<DWORD> TcpListenersOf(int32_t port) {
  const GetExtendedTcpTableFunction getTable = TcpTableFunction();
  if (!getTable) return {};
  // The table may grow between the size query and the read: ask again with the new size.
  DWORD size = 0;
  std::unique_ptr<unsigned char[]> buffer;
  DWORD result = getTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer = std::make_unique<unsigned char[]>(size);
    result = getTable(buffer.get(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (result != NO_ERROR || !buffer) return {};
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.get());
  std::vector<DWORD> owners;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    const bool reachable = row.dwLocalAddr == htonl(INADDR_LOOPBACK) || row.dwLocalAddr == htonl(INADDR_ANY);
    if (reachable && ntohs(static_cast<u_short>(row.dwLocalPort)) == port) owners.push_back(row.dwOwningPid);
  }
  return owners;
}

bool OnlyListenerIs(const std::vector<DWORD>& owners, DWORD processId) {
  return !owners.empty() && std::all_of(owners.begin(), owners.end(),
                                        [processId](DWORD owner) { return owner == processId || owner == 0; });
}

bool TcpPortListenedOnlyBy(int32_t port, DWORD processId) { return OnlyListenerIs(TcpListenersOf(port), processId); }
