// An owning pointer to a reference-counted object (CKelRefCounted or alike): copies take a
// reference, destruction gives it up. Belongs to its user's thread like any value; the
// object's count itself is atomic, so copies may live on different threads.
#pragma once

#include <utility>

template <class T>
class CKelRefPtr {
 public:
  CKelRefPtr() noexcept = default;
  // Takes over the caller's reference.
  static CKelRefPtr Adopt(T* object) noexcept { return CKelRefPtr(object); }
  // Takes a reference of its own.
  static CKelRefPtr Share(T* object) noexcept {
    if (object) object->AddRef();
    return CKelRefPtr(object);
  }

  CKelRefPtr(const CKelRefPtr& other) noexcept : object_(other.object_) {
    if (object_) object_->AddRef();
  }
  CKelRefPtr(CKelRefPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  CKelRefPtr& operator=(CKelRefPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~CKelRefPtr() {
    if (object_) object_->Release();
  }

  T* Get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Gives up ownership without releasing.
  T* Detach() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit CKelRefPtr(T* object) noexcept : object_(object) {}

  T* object_ = nullptr;
};
