#include "app/app_instance.h"

#include <string>
#include <utility>

#include "app/program.h"
#include "ui/image.h"

namespace {

// The whole file, or false when it cannot be opened or read.
bool ReadWholeFile(CWTextRef path, CKelMem& bytes) {
  const CWString name(path);
  UniqueHandle file(CreateFileW(name.GetText(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
  CKelMem read;
  read.SetSize(size.QuadPart);
  DWORD done = 0;
  if (size.QuadPart > 0 && (!ReadFile(file.Get(), read.Data(), static_cast<DWORD>(size.QuadPart), &done, nullptr) ||
                            done != static_cast<DWORD>(size.QuadPart))) {
    return false;
  }
  bytes = std::move(read);
  return true;
}

}  // namespace

CKelAppInstance::CKelAppInstance() : memoryPool(CPoolMem::Instance()) {}

CKelAppInstance::~CKelAppInstance() {
  idleReleaseList.ReleaseAll();
  DeleteProgram();
  objectList.Clear();
  com_.reset();
}

void CKelAppInstance::ProgramDeleter::operator()(CKelUserApp* program) const { program->Delete(); }

void CKelAppInstance::SetProgram(CKelUserApp* program) {
  // A newer program replaces the current one, which is then no longer owned here: whoever
  // made it deletes it.
  (void)theProgram_.release();
  theProgram_.reset(program);
}

void CKelAppInstance::ForgetProgram(CKelUserApp* program) {
  if (theProgram_.get() == program) (void)theProgram_.release();
}

HMODULE CKelAppInstance::GetResourceModule() const { return ResourceModule(); }

void CKelAppInstance::SetModuleHandle(HMODULE module) { SetResourceModule(module); }

bool CKelAppInstance::InitializeCom() {
  if (!com_) com_ = std::make_unique<ComInit>(COINIT_APARTMENTTHREADED);
  return com_->Succeeded();
}

bool CKelAppInstance::LoadStringResource(int id, CWString& text) const {
  if (id == 0) {
    text.Clear();
    return true;
  }
  std::wstring buffer(kFirstStringBuffer, L'\0');
  for (;;) {
    const int copied =
        LoadStringW(GetResourceModule(), static_cast<UINT>(id), buffer.data(), static_cast<int>(buffer.size()));
    if (copied <= 0) return false;
    // A string that fills the buffer may have been cut short.
    if (copied <= static_cast<int>(buffer.size()) - 2) {
      text.Assign(CWTextRef(buffer.data(), copied));
      return true;
    }
    buffer.resize(buffer.size() + kFirstStringBuffer);
  }
}

HANDLE CKelAppInstance::LoadImageResource(int kind, int id) const { return ::LoadImageResource(kind, id); }

HANDLE CKelAppInstance::LoadImageFile(int kind, CWTextRef path) const {
  if (path.IsEmpty()) return nullptr;
  const CWString name(path);
  switch (kind) {
    case kKelImageCursor:
      return LoadImageW(nullptr, name.GetText(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE);
    case kKelImageIcon:
      return LoadImageW(nullptr, name.GetText(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE);
    case kKelImageBitmap:
    case kKelImageImageList: {
      CKelMem bytes;
      if (!ReadWholeFile(path, bytes)) return nullptr;
      UniqueBitmap bitmap(::DecodeImage(bytes.Data(), static_cast<size_t>(bytes.Size())));
      if (kind == kKelImageBitmap) return bitmap.Release();
      return ImageListFromStrip(bitmap.Get());
    }
    default:
      return nullptr;
  }
}

HBITMAP CKelAppInstance::DecodeImage(const void* bytes, size_t length) const { return ::DecodeImage(bytes, length); }

bool CKelAppInstance::LoadRawResource(int id, CKelMem& bytes, const wchar_t* type) const {
  return ::LoadRawResource(id, type, bytes);
}

bool CKelAppInstance::LoadTextResource(int id, CWString& text) const {
  CKelMem bytes;
  if (!LoadDataResource(id, bytes)) return false;
  const auto* units = reinterpret_cast<const wchar_t*>(bytes.Data());
  int64_t count = bytes.Size() / static_cast<int64_t>(sizeof(wchar_t));
  if (count > 0 && units[0] == 0xFEFF) {
    ++units;
    --count;
  }
  CWString read;
  read.SetChars(units, count);
  text = std::move(read);
  return true;
}

bool CKelAppInstance::LoadDataResource(int id, CKelMem& bytes) const { return LoadRawResource(id, bytes, RT_RCDATA); }

CKelAppInstance& KelAppInstance() {
  static CKelAppInstance instance;
  return instance;
}
