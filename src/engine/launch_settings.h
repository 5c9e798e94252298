// The settings one engine launch travels with from the user-interface thread to the engine's
// worker thread (posted as an object task, so the worker gets a copy of its own).
// A plain value: copies are independent; not thread-safe.
#pragma once

#include <cstdint>

#include "runtime/object.h"
#include "runtime/text.h"

class rg_n2038 : public CKelObject {
  KEL_DECLARE_CLASS(rg_n2038, CKelObject)

  rg_n2038() = default;

  bool Equals(const CKelObject& other) const override;
  // The fields in order: the seven texts, then showEngineWindow as 4 bytes.
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  CWString engineDir;  // the engine folder, ending with a backslash
  CWString rpcPortText{L"7022"};
  CWString listenPortText{L"7055"};
  CWString dhtPortText{L"7033"};
  CWString secret;  // the RPC secret of this start, drawn by the engine's Start
  // Travel with the settings, but the engine's command line does not carry them.
  CWString peerAgent{L"Transmission/3.00"};
  CWString peerIdPrefix{L"-TR3000-"};
  int32_t showEngineWindow = 0;  // 0: the engine's console window stays hidden
};
