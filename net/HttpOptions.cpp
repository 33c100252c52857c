#include "net/HttpOptions.h"

#include <array>
#include <strings.h>

#include "net/Trim.h"

namespace quillet {
namespace {

struct FlagRow {
  bool cache;  // member of the cache set, else of the internet set
  int member;
  uint32_t flag;
};

constexpr std::array<FlagRow, 14> kFlagRows{{
    {true, coAlwaysReload, kFlagReload},
    {true, coReloadIfNoExpireInformation, kFlagHyperlink},
    {true, coReloadUpdatedObjects, kFlagResynchronize},
    {true, coPragmaNoCache, kFlagPragmaNoCache},
    {true, coNoCacheWrite, kFlagNoCacheWrite},
    {true, coUseCacheIfNetFail, kFlagCacheIfNetFail},
    {false, ioIgnoreCertificateInvalid, kFlagIgnoreCertCnInvalid},
    {false, ioIgnoreCertificateDateInvalid, kFlagIgnoreCertDateInvalid},
    {false, ioIgnoreRedirectToHTTP, kFlagIgnoreRedirectToHttp},
    {false, ioIgnoreRedirectToHTTPS, kFlagIgnoreRedirectToHttps},
    {false, ioKeepConnection, kFlagKeepConnection},
    {false, ioNoAuthentication, kFlagNoAuth},
    {false, ioNoAutoRedirect, kFlagNoAutoRedirect},
    {false, ioNoCookies, kFlagNoCookies},
}};

}  // namespace

uint32_t ComputeRequestFlags(std::string_view scheme, TCacheOptions cacheOptions,
                             TInternetOptions internetOptions) {
  uint32_t flags = 0;
  const bool secure = scheme.size() == 5 && strncasecmp(scheme.data(), "https", 5) == 0;
  if (secure)
    flags |= kFlagSecure;
  else if (HasOption(cacheOptions, coCreateTempFilesIfCantCache))
    flags |= kFlagNeedFile;
  for (const FlagRow& row : kFlagRows)
    if (HasOption(row.cache ? cacheOptions : internetOptions, row.member)) flags |= row.flag;
  return flags;
}

int InternetOpenAccessType(TProxyAccessType accessType) {
  switch (accessType) {
    case atDirect:
      return kOpenTypeDirect;
    case atUseProxy:
      return kOpenTypeProxy;
    case atPreconfig:
      break;
  }
  return kOpenTypePreconfig;
}

TProxySetting ProxySettingFor(const THttpProxy& proxy) {
  TProxySetting setting;
  if (proxy.AccessType == atPreconfig) return setting;
  setting.UseEnvironment = false;
  if (proxy.AccessType == atDirect) return setting;
  setting.Proxy = proxy.ProxyServer + ":" + std::to_string(proxy.ProxyPort);
  // The bypass list is separated by semicolons (or blanks); the transport wants commas.
  std::string entry;
  auto flush = [&] {
    const std::string host(TrimBlanks(entry));
    entry.clear();
    if (host.empty()) return;
    if (!setting.NoProxy.empty()) setting.NoProxy += ',';
    setting.NoProxy += host;
  };
  for (char c : proxy.ProxyBypass) {
    if (c == ';' || c == ',' || c == ' ')
      flush();
    else
      entry += c;
  }
  flush();
  return setting;
}

}  // namespace quillet
