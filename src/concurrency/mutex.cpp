#include "concurrency/mutex.h"

rg_HuChiSuoLei::rg_HuChiSuoLei() : CKelRefObject(new CMMutex) {}

void rg_HuChiSuoLei::Lock() const { static_cast<CMMutex*>(Inner())->Lock(); }

void rg_HuChiSuoLei::Unlock() const { static_cast<CMMutex*>(Inner())->Unlock(); }

CKelRefPtr<CMMutex> rg_HuChiSuoLei::ShareLock() const {
  return CKelRefPtr<CMMutex>::Share(static_cast<CMMutex*>(Inner()));
}
