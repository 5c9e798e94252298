#include "engine/launch_settings.h"

bool rg_n2038::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& o = static_cast<const rg_n2038&>(other);
  return engineDir == o.engineDir && rpcPortText == o.rpcPortText && listenPortText == o.listenPortText &&
         dhtPortText == o.dhtPortText && secret == o.secret && peerAgent == o.peerAgent &&
         peerIdPrefix == o.peerIdPrefix && showEngineWindow == o.showEngineWindow;
}

bool rg_n2038::ReadFrom(CKelStream& stream) {
  rg_n2038 read;
  if (!read.engineDir.ReadFrom(stream) || !read.rpcPortText.ReadFrom(stream) || !read.listenPortText.ReadFrom(stream) ||
      !read.dhtPortText.ReadFrom(stream) || !read.secret.ReadFrom(stream) || !read.peerAgent.ReadFrom(stream) ||
      !read.peerIdPrefix.ReadFrom(stream) || !stream.ReadInt32(read.showEngineWindow)) {
    return false;
  }
  BeforeChange();
  read.objectFlags = objectFlags;
  read.objectTag = objectTag;
  *this = read;
  return true;
}

bool rg_n2038::WriteTo(CKelStream& stream) const {
  return engineDir.WriteTo(stream) && rpcPortText.WriteTo(stream) && listenPortText.WriteTo(stream) &&
         dhtPortText.WriteTo(stream) && secret.WriteTo(stream) && peerAgent.WriteTo(stream) &&
         peerIdPrefix.WriteTo(stream) && stream.WriteInt32(showEngineWindow);
}
