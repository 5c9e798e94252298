// The process-wide runtime state: created before the application object, destroyed after
// everything else (static shutdown). It holds the module resources come from, the main
// thread's COM session, the idle release list, the objects the runtime owns for the
// process, the current program object (theProgram), and offers the resource services
// (strings, images, raw and text resources). The memory pool itself is the runtime's
// CPoolMem::Instance(), which this state touches first so that it exists before any object.
// Threads: the state is set up and torn down on the main thread; the resource services may be
// called from any thread (GDI+ start-up is serialised by the toolkit's lock).
#pragma once

#include <windows.h>

#include <memory>

#include "app/idle_release_list.h"
#include "runtime/arrays.h"
#include "runtime/mem.h"
#include "runtime/pool_mem.h"
#include "runtime/text.h"
#include "runtime/win_handles.h"

class CKelUserApp;

class CKelAppInstance {
 public:
  static constexpr int32_t kFirstStringBuffer = 4100;

  CKelAppInstance();
  CKelAppInstance(const CKelAppInstance&) = delete;
  CKelAppInstance& operator=(const CKelAppInstance&) = delete;
  // Releases the idle entries, deletes a program object still present, empties the object
  // list and ends COM when it was started here. (GDI+ was shut down by
  // exit instance; a session started later ends with the toolkit's own static state.)
  virtual ~CKelAppInstance();

  // -- Resource services ----------------------------------------------------------------------

  // The application's instance handle once known, before that the module holding this code.
  virtual HMODULE GetResourceModule() const;
  // The string-table entry; id 0 gives "" and true, a missing entry false (text unchanged).
  virtual bool LoadStringResource(int id, CWString& text) const;
  // kKelImageBitmap/Cursor/Icon/ImageList of ui/image.h; owned by the caller; null for id 0.
  virtual HANDLE LoadImageResource(int kind, int id) const;
  // The same kinds from a file; null for an empty path or an unreadable file.
  virtual HANDLE LoadImageFile(int kind, CWTextRef path) const;
  // An image file held in memory, decoded into a bitmap.
  virtual HBITMAP DecodeImage(const void* bytes, size_t length) const;
  // A resource of the given type; id 0 gives an empty set and true, a missing resource false.
  virtual bool LoadRawResource(int id, CKelMem& bytes, const wchar_t* type) const;
  // An RCDATA resource read as UTF-16 text without its byte-order mark.
  virtual bool LoadTextResource(int id, CWString& text) const;
  virtual bool LoadDataResource(int id, CKelMem& bytes) const;

  // -- State ----------------------------------------------------------------------------------

  // Records the application's instance handle as the resource module.
  void SetModuleHandle(HMODULE module);
  // COM for the calling (main) thread as a single-threaded apartment, ended with this state.
  // True when COM answered a success code (S_FALSE included).
  bool InitializeCom();
  bool ComInitialized() const { return com_ && com_->Succeeded(); }

  // The current program object (theProgram): the newest one made. This state owns it from then
  // on; exit instance deletes it, and a program deleted earlier takes itself out.
  CKelUserApp* Program() const { return theProgram_.get(); }
  void SetProgram(CKelUserApp* program);     // a program's constructor
  void ForgetProgram(CKelUserApp* program);  // a program's destructor
  void DeleteProgram() { theProgram_.reset(); }

  CPoolMem& memoryPool;
  CKelIdleReleaseList idleReleaseList;
  CKelObjectArray objectList;

 private:
  struct ProgramDeleter {
    void operator()(CKelUserApp* program) const;
  };

  std::unique_ptr<CKelUserApp, ProgramDeleter> theProgram_;
  std::unique_ptr<ComInit> com_;
};

// The process's runtime state, created on first use.
CKelAppInstance& KelAppInstance();
