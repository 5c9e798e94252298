// Owner of WinHTTP handles (sessions, connections, requests). Header-only so that only the
// libraries that use WinHTTP link it.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "runtime/win_handles.h"

namespace win_handle_traits {

struct Internet {
  using Type = HINTERNET;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { WinHttpCloseHandle(h); }
};

}  // namespace win_handle_traits

using UniqueInternet = UniqueResource<win_handle_traits::Internet>;
