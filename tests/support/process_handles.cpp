#include "process_handles.h"

#include <winternl.h>

#include <algorithm>
#include <vector>

namespace {

// Entries of SystemExtendedHandleInformation.
constexpr auto kExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
struct HandleEntry {
  PVOID object;
  ULONG_PTR processId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};
struct HandleList {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry handles[1];
};

}  // namespace

size_t HandlesInTheSystemList() {
  constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status =
        NtQuerySystemInformation(kExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return 0;
    break;
  }
  const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
  const ULONG_PTR self = GetCurrentProcessId();
  size_t count = 0;
  for (ULONG_PTR i = 0; i < list->count; ++i) {
    if (list->handles[i].processId == self) ++count;
  }
  return count;
}
