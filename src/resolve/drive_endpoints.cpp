#include "resolve/drive_endpoints.h"

#include "build_config.h"

const DriveEndpoints& DriveEndpoints::Built() {
  static const DriveEndpoints built{
      CWString(BRINEMARCH_LIST_ORIGIN),   CWString(BRINEMARCH_DOWNLOAD_ORIGIN),  CWString(BRINEMARCH_LIST_COOKIE),
      CWString(BRINEMARCH_LANZOU_DOMAIN), CWString(BRINEMARCH_LANZOU_ALT_LABEL),
  };
  return built;
}
