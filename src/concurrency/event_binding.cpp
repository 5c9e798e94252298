#include "concurrency/event_binding.h"

#include "concurrency/lock_guards.h"

namespace {

// Innermost handler call of the current thread; calls chain outwards through outer_.
thread_local const CKelEventCall* currentCall = nullptr;

// One step of Detach's wait: until wake is set (or 1 ms without an event), delivering the
// messages other threads send to this one meanwhile. Posted messages stay queued.
void WaitDeliveringSentMessages(HANDLE wake) {
  MsgWaitForMultipleObjects(wake ? 1 : 0, &wake, FALSE, wake ? INFINITE : 1, QS_SENDMESSAGE);
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

CKelEventObjectPointer::CKelEventObjectPointer(void* target) : target(target) { InitializeCriticalSection(&callLock); }

CKelEventObjectPointer::~CKelEventObjectPointer() { DeleteCriticalSection(&callLock); }

void* CKelEventObjectPointer::BeginCall() {
  CKelCriticalSectionGuard guard(callLock);
  void* result = detaching ? nullptr : target;
  if (result) ++activeCalls;
  return result;
}

void CKelEventObjectPointer::EndCall() {
  HANDLE wake;
  {
    CKelCriticalSectionGuard guard(callLock);
    --activeCalls;
    wake = detaching ? detachLock.Get() : nullptr;
  }
  // The caller still holds a reference, so the event outlives this call.
  if (wake) SetEvent(wake);
}

void CKelEventObjectPointer::Detach() {
  // Calls of this holder further up our own stack cannot end before we return.
  int64_t ownCalls = 0;
  for (const CKelEventCall* call = currentCall; call; call = call->outer_) {
    if (&call->holder_ == this && call->target_) ++ownCalls;
  }

  for (;;) {
    HANDLE wake;
    {
      CKelCriticalSectionGuard guard(callLock);
      detaching = true;
      if (activeCalls <= ownCalls) {
        target = nullptr;
        break;
      }
      if (!detachLock) detachLock.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
      wake = detachLock.Get();
    }
    WaitDeliveringSentMessages(wake);
  }
  Release();
}

int64_t CKelEventObjectPointer::ActiveCalls() {
  CKelCriticalSectionGuard guard(callLock);
  return activeCalls;
}

bool CKelEventObjectPointer::IsDetached() {
  CKelCriticalSectionGuard guard(callLock);
  return detaching;
}

CKelEventCall::CKelEventCall(CKelEventObjectPointer& holder)
    : holder_(holder), target_(holder.BeginCall()), outer_(currentCall) {
  currentCall = this;
}

CKelEventCall::~CKelEventCall() {
  currentCall = outer_;
  if (target_) holder_.EndCall();
}
