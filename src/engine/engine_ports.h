// The engine's ports on this machine: whether they are free for it before it starts, and which
// processes listen on one afterwards. Any thread may call these.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

// True when no socket holds the TCP ports rpcPort and listenPort or the UDP port dhtPort. Each
// is bound for exclusive use (SO_EXCLUSIVEADDRUSE) on every address: a program that would let
// a second listener share its port (SO_REUSEADDR, as the engine binds) still counts as
// holding it, so a second copy of the program never shares an engine port with the first.
bool EnginePortsFree(int32_t rpcPort, int32_t listenPort, int32_t dhtPort);
// The processes listening on TCP port on the IPv4 loopback or every IPv4 address, from the
// system's table (GetExtendedTcpTable); empty when none listens or the table cannot be read.
std::vector<DWORD> TcpListenersOf(int32_t port);
// Whether the listeners a table names (owners, as TcpListenersOf gives them) leave a request
// to the port no process to reach but processId: at least one listener, none of another
// process. A listener whose process the system does not name (owner 0: Windows names every
// listener's process, Wine none) proves nothing either way.
bool OnlyListenerIs(const std::vector<DWORD>& owners, DWORD processId);
// OnlyListenerIs for the listeners on TCP port now.
bool TcpPortListenedOnlyBy(int32_t port, DWORD processId);
