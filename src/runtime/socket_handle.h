// Owner of Winsock sockets. Header-only so that only the libraries that use sockets link
// Winsock.
#pragma once

#include <winsock2.h>

#include "runtime/win_handles.h"

namespace win_handle_traits {

struct Socket {
  using Type = SOCKET;
  static Type Empty() { return INVALID_SOCKET; }
  static bool IsValid(Type s) { return s != INVALID_SOCKET; }
  static void Close(Type s) { closesocket(s); }
};

}  // namespace win_handle_traits

using UniqueSocket = UniqueResource<win_handle_traits::Socket>;
