// Owners of Win32 handles: one non-copyable, movable type per handle kind, each with its
// closer. A handle is closed on the thread that destroys its owner (windows and hooks must be
// let go on the thread that made them). The GDI+ owners are in runtime/gdiplus_handles.h, so
// the GDI+ headers stay out of the units that do not draw.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <oleauto.h>
#include <objbase.h>
#include <commctrl.h>
#include <shtypes.h>

#include <utility>

// Traits: Type, static Type Empty(), static bool IsValid(Type), static void Close(Type).
template <class Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept : value_(Traits::Empty()) {}
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueResource() { Reset(); }

  Type Get() const noexcept { return value_; }
  bool IsValid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Gives up ownership without closing.
  Type Release() noexcept { return std::exchange(value_, Traits::Empty()); }
  void Reset(Type value = Traits::Empty()) noexcept {
    Type old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // For out-parameters: closes the current handle first.
  Type* Address() noexcept {
    Reset();
    return &value_;
  }

 private:
  Type value_;
};

namespace win_handle_traits {

struct Handle {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};

struct FindHandle {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};

struct Window {
  using Type = HWND;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { DestroyWindow(h); }
};

template <class T>
struct GdiObject {
  using Type = T;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { DeleteObject(h); }
};

struct Dc {
  using Type = HDC;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { DeleteDC(h); }
};

struct Icon {
  using Type = HICON;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { DestroyIcon(h); }
};

struct Module {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};

struct Global {
  using Type = HGLOBAL;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { GlobalFree(h); }
};

struct Bstr {
  using Type = BSTR;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { SysFreeString(h); }
};

struct ImageList {
  using Type = HIMAGELIST;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ImageList_Destroy(h); }
};

struct Hook {
  using Type = HHOOK;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { UnhookWindowsHookEx(h); }
};

// Memory the shell or COM hands over to its caller (item id lists, strings).
template <class T>
struct CoTaskMem {
  using Type = T*;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { CoTaskMemFree(h); }
};

// CNG objects (bcrypt).
struct BcryptAlgorithm {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptCloseAlgorithmProvider(h, 0); }
};

struct BcryptKey {
  using Type = BCRYPT_KEY_HANDLE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptDestroyKey(h); }
};

struct BcryptHash {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptDestroyHash(h); }
};

}  // namespace win_handle_traits

using UniqueHandle = UniqueResource<win_handle_traits::Handle>;  // null and INVALID_HANDLE_VALUE are empty
using UniqueFindHandle = UniqueResource<win_handle_traits::FindHandle>;
using UniqueWindow = UniqueResource<win_handle_traits::Window>;
template <class T>
using UniqueGdi = UniqueResource<win_handle_traits::GdiObject<T>>;
using UniqueGdiObject = UniqueGdi<HGDIOBJ>;
using UniqueBitmap = UniqueGdi<HBITMAP>;
using UniqueFont = UniqueGdi<HFONT>;
using UniqueBrush = UniqueGdi<HBRUSH>;
using UniqueRegion = UniqueGdi<HRGN>;
using UniqueDc = UniqueResource<win_handle_traits::Dc>;  // from CreateCompatibleDC / CreateDC
using UniqueIcon = UniqueResource<win_handle_traits::Icon>;
using UniqueModule = UniqueResource<win_handle_traits::Module>;
using UniqueGlobal = UniqueResource<win_handle_traits::Global>;
using UniqueBstr = UniqueResource<win_handle_traits::Bstr>;
using UniqueImageList = UniqueResource<win_handle_traits::ImageList>;
using UniqueHook = UniqueResource<win_handle_traits::Hook>;  // unhooked on the thread that set it
template <class T>
using UniqueCoTaskMem = UniqueResource<win_handle_traits::CoTaskMem<T>>;
using UniqueIdList = UniqueCoTaskMem<ITEMIDLIST>;  // a PIDL, e.g. from SHBrowseForFolderW
using UniqueBcryptAlgorithm = UniqueResource<win_handle_traits::BcryptAlgorithm>;  // links bcrypt
using UniqueBcryptKey = UniqueResource<win_handle_traits::BcryptKey>;
using UniqueBcryptHash = UniqueResource<win_handle_traits::BcryptHash>;

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC Get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a device context and selects the previous one back.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// The clipboard, open between construction and destruction when IsOpen().
class ClipboardSession {
 public:
  explicit ClipboardSession(HWND owner) noexcept : open_(OpenClipboard(owner) != FALSE) {}
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;
  ~ClipboardSession() {
    if (open_) CloseClipboard();
  }
  bool IsOpen() const noexcept { return open_; }

 private:
  bool open_;
};

// An owned COM interface pointer.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  explicit ComPtr(T* p) noexcept : p_(p) {}  // takes over the caller's reference
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset(T* p = nullptr) noexcept {
    T* old = std::exchange(p_, p);
    if (old) old->Release();
  }
  // For out-parameters (IID_PPV_ARGS-style calls): releases the current pointer first.
  T** Address() noexcept {
    Reset();
    return &p_;
  }
  void** VoidAddress() noexcept { return reinterpret_cast<void**>(Address()); }

 private:
  T* p_ = nullptr;
};

// COM for the calling thread; uninitialised at destruction only when the start succeeded
// (S_FALSE included). Must be destroyed on the thread that made it.
class ComInit {
 public:
  explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept : result_(CoInitializeEx(nullptr, model)) {}
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;
  ~ComInit() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  bool Succeeded() const noexcept { return SUCCEEDED(result_); }
  HRESULT Result() const noexcept { return result_; }

 private:
  HRESULT result_;
};
