#include "resolve/drive_endpoints.h"

#include "build_config.h"
#include "net/http.h"

const DriveEndpoints& DriveEndpoints::Built() {
  static const DriveEndpoints built = [] {
    DriveEndpoints endpoints;
    endpoints.listOrigin = CWString(BRINEMARCH_LIST_ORIGIN);
    endpoints.downloadOrigin = CWString(BRINEMARCH_DOWNLOAD_ORIGIN);
    endpoints.listCookie = CWString(BRINEMARCH_LIST_COOKIE);
    endpoints.lanzouDomain = CWString(BRINEMARCH_LANZOU_DOMAIN);
    endpoints.lanzouAltLabel = CWString(BRINEMARCH_LANZOU_ALT_LABEL);
    return endpoints;
  }();
  return built;
}

void DriveEndpoints::RouteThroughProxy(rg_WangLaoFangWenLei_n& http) const {
  if (proxy.IsEmpty()) {
    http.accessType = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
    return;
  }
  http.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  http.proxyServer = proxy;
}
