// Events: a source owns one EventBinding per event; a target owns an EventTarget whose
// reference-counted holder (CKelEventObjectPointer) is how handlers reach it.
//
// Guarantees:
// - A handler runs outside every lock and never after its target was detached.
// - Detaching waits for the calls in progress (except calls further up the detaching thread's
//   own stack, which would otherwise wait for themselves) and refuses every call that arrives
//   meanwhile. While it waits it delivers messages sent to the detaching thread, so a handler
//   that sends a message to a window on that thread cannot deadlock the detach.
// - The last call may end on another thread than the first.
//
// Typical owner:
//
//   class Owner {
//    public:
//     Owner() { source.onTask.Bind<&Owner::OnTask>(events); }
//     ~Owner() { events.Detach(); }  // first, before anything the handlers use goes away
//    private:
//     int32_t OnTask(int32_t kind, int64_t value1, int64_t value2);
//     // or: int32_t OnTask(CKelObject* sender, int32_t extra, int32_t kind, ...)
//     EventTarget<Owner> events{this};
//     rg_XianChengChiLei2_n source;
//   };
//
// Threads: binding, unbinding and firing may happen on any threads at the same time.
// Detach is meant to be called once, by the target's owner.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "concurrency/ref_ptr.h"
#include "concurrency/spin_lock.h"
#include "runtime/object.h"
#include "runtime/win_handles.h"

// The holder through which handlers reach their target. Created with one reference, which
// belongs to the target and is given up by Detach; every binding and every call in progress
// holds a reference of its own.
class CKelEventObjectPointer : public CKelRefCounted {
 public:
  explicit CKelEventObjectPointer(void* target);

  // Waits for the calls in progress, refuses all later ones, clears target and gives up the
  // target's reference. The caller must not use the holder afterwards unless it holds a
  // reference of its own.
  void Detach();

  // Calls through this holder currently running their handler.
  int64_t ActiveCalls();
  bool IsDetached();

 private:
  friend class CKelEventCall;

  ~CKelEventObjectPointer() override;

  // Target for a call about to start, or null when the call must not be made.
  void* BeginCall();
  void EndCall();

  int64_t activeCalls = 0;    // guarded by callLock
  CRITICAL_SECTION callLock;  // guards everything below; never held while a handler runs
  // Wakes a waiting Detach whenever a call ends (any thread may set it). Created by the
  // first Detach that has to wait.
  UniqueHandle detachLock;
  bool detaching = false;  // set by Detach: no call starts any more
  void* target;
};

// One call of a handler through a holder: starts it on construction, ends it on destruction.
// Used by EventBinding; not meant for other code.
class CKelEventCall {
 public:
  explicit CKelEventCall(CKelEventObjectPointer& holder);
  CKelEventCall(const CKelEventCall&) = delete;
  CKelEventCall& operator=(const CKelEventCall&) = delete;
  ~CKelEventCall();

  // Null when the call must not be made.
  void* Target() const { return target_; }

 private:
  friend class CKelEventObjectPointer;  // Detach walks this thread's calls

  CKelEventObjectPointer& holder_;
  void* target_;
  const CKelEventCall* outer_;  // the next call further up this thread's stack
};

// The target side: a member of the target object, created with the object's address.
// Owned by the target's thread; Detach (or the destructor) waits for handler calls in progress.
template <class Owner>
class EventTarget {
 public:
  explicit EventTarget(Owner* owner) : holder_(new CKelEventObjectPointer(owner)) {}
  EventTarget(const EventTarget&) = delete;
  EventTarget& operator=(const EventTarget&) = delete;
  ~EventTarget() { Detach(); }

  // Call first thing in the owner's destructor; later calls do nothing.
  void Detach() {
    if (holder_) std::exchange(holder_, nullptr)->Detach();
  }

  // Null after Detach.
  CKelEventObjectPointer* Holder() const { return holder_; }

 private:
  CKelEventObjectPointer* holder_;
};

// The source side: one binding per event, Args being the event's own arguments.
// A copied binding starts unbound and assigning leaves a binding as it is, so sources keep
// their value semantics without sharing handlers.
template <class... Args>
class EventBinding {
 public:
  // target: the holder's target; sender: the source object; extra: the binding's value.
  using Handler = int32_t (*)(void* target, CKelObject* sender, int32_t extra, Args... args);

  // A bound handler taken out of the binding together with a reference on its holder, so
  // that it can be called after the binding was changed. Movable, not copyable.
  class Call {
   public:
    Call() = default;
    Call(Call&& other) noexcept
        : handler_(std::exchange(other.handler_, nullptr)), holder_(std::move(other.holder_)), extra_(other.extra_) {}
    Call& operator=(Call&& other) noexcept {
      if (this != &other) {
        handler_ = std::exchange(other.handler_, nullptr);
        holder_ = std::move(other.holder_);
        extra_ = other.extra_;
      }
      return *this;
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // Runs the handler unless nothing was bound or the target is detached (then 0).
    int32_t Invoke(CKelObject* sender, Args... args) const {
      if (!holder_ || !handler_) return 0;
      CKelEventCall call(*holder_);
      if (!call.Target()) return 0;
      return handler_(call.Target(), sender, extra_, std::forward<Args>(args)...);
    }

   private:
    friend class EventBinding;

    Handler handler_ = nullptr;
    CKelRefPtr<CKelEventObjectPointer> holder_;
    int32_t extra_ = 0;
  };

  EventBinding() = default;
  EventBinding(const EventBinding&) noexcept {}
  EventBinding& operator=(const EventBinding&) noexcept { return *this; }
  ~EventBinding() { Unbind(); }

  // Binds handler with holder (a reference is taken; the previous holder's is given up).
  void Bind(Handler newHandler, CKelEventObjectPointer* newHolder, int32_t newExtra) {
    auto swapped = CKelRefPtr<CKelEventObjectPointer>::Share(newHolder);
    {
      CKelSpinLockGuard guard(lock);
      handler = newHandler;
      extra = newExtra;
      std::swap(holder, swapped);
    }
    // swapped now holds the previous holder and lets it go outside the lock: this may be its
    // last reference.
  }

  // Binds a member function of Owner. Method takes either (Args...) or
  // (CKelObject* sender, int32_t extra, Args...) and returns an integer or nothing (0).
  template <auto Method, class Owner>
  void Bind(const EventTarget<Owner>& target, int32_t extra = 0) {
    Bind(&MemberHandler<Method, Owner>, target.Holder(), extra);
  }

  void Unbind() { Bind(nullptr, nullptr, 0); }

  bool IsBound() const {
    CKelSpinLockGuard guard(lock);
    return holder && handler != nullptr;
  }

  // The current handler with a reference on its holder.
  Call Take() const {
    Call call;
    CKelSpinLockGuard guard(lock);
    call.handler_ = handler;
    call.extra_ = extra;
    call.holder_ = holder;
    return call;
  }

  // Raises the event: the handler's result, or 0 when it was not called.
  int32_t Fire(CKelObject* sender, Args... args) const { return Take().Invoke(sender, std::forward<Args>(args)...); }

 private:
  template <auto Method, class Owner>
  static int32_t MemberHandler(void* target, CKelObject* sender, int32_t extra, Args... args) {
    Owner* self = static_cast<Owner*>(target);
    using M = decltype(Method);
    if constexpr (std::is_invocable_v<M, Owner*, CKelObject*, int32_t, Args...>) {
      return ResultOf([&] { return std::invoke(Method, self, sender, extra, std::forward<Args>(args)...); });
    } else {
      static_assert(std::is_invocable_v<M, Owner*, Args...>,
                    "the handler must take (Args...) or (CKelObject* sender, int32_t extra, Args...)");
      return ResultOf([&] { return std::invoke(Method, self, std::forward<Args>(args)...); });
    }
  }

  template <class F>
  static int32_t ResultOf(F&& call) {
    if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
      call();
      return 0;
    } else {
      return static_cast<int32_t>(call());
    }
  }

  mutable CKelSpinLock lock;  // held only to read or change the three fields below
  Handler handler = nullptr;
  CKelRefPtr<CKelEventObjectPointer> holder;
  int32_t extra = 0;
};
