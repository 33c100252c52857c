#pragma once
// The HTTP client's option sets, proxy and time-out settings, and the request flags they ask for.

#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

enum TCacheOption {
  coAlwaysReload = 0,
  coReloadIfNoExpireInformation = 1,
  coReloadUpdatedObjects = 2,
  coPragmaNoCache = 3,
  coNoCacheWrite = 4,
  coCreateTempFilesIfCantCache = 5,
  coUseCacheIfNetFail = 6,
};

enum TInternetOption {
  ioIgnoreCertificateInvalid = 0,
  ioIgnoreCertificateDateInvalid = 1,
  ioIgnoreUnknownCertificateAuthority = 2,
  ioIgnoreRedirectToHTTP = 3,
  ioIgnoreRedirectToHTTPS = 4,
  ioKeepConnection = 5,
  ioNoAuthentication = 6,
  ioNoAutoRedirect = 7,
  ioNoCookies = 8,
};

// A set of options is a bit mask with bit n for the member numbered n.
using TCacheOptions = uint32_t;
using TInternetOptions = uint32_t;

constexpr uint32_t OptionBit(int member) { return 1u << member; }
constexpr bool HasOption(uint32_t set, int member) { return (set & OptionBit(member)) != 0; }

inline constexpr TCacheOptions kDefaultCacheOptions =
    OptionBit(coReloadIfNoExpireInformation) | OptionBit(coReloadUpdatedObjects) |
    OptionBit(coCreateTempFilesIfCantCache);  // 38
inline constexpr TCacheOptions kNoCacheClientCacheOptions =
    OptionBit(coReloadIfNoExpireInformation) | OptionBit(coReloadUpdatedObjects) |
    OptionBit(coPragmaNoCache);  // 14
inline constexpr TInternetOptions kDefaultInternetOptions = OptionBit(ioKeepConnection);  // 32

// The request flags the options ask for; the scheme decides between secure and need-file.
uint32_t ComputeRequestFlags(std::string_view scheme, TCacheOptions cacheOptions,
                             TInternetOptions internetOptions);

// The flag values, for callers that test for one of them.
inline constexpr uint32_t kFlagSecure = 0x00800000;
inline constexpr uint32_t kFlagNeedFile = 0x00000010;
inline constexpr uint32_t kFlagReload = 0x80000000;
inline constexpr uint32_t kFlagHyperlink = 0x00000400;
inline constexpr uint32_t kFlagResynchronize = 0x00000800;
inline constexpr uint32_t kFlagPragmaNoCache = 0x00000100;
inline constexpr uint32_t kFlagNoCacheWrite = 0x04000000;
inline constexpr uint32_t kFlagCacheIfNetFail = 0x00010000;
inline constexpr uint32_t kFlagIgnoreCertCnInvalid = 0x00001000;
inline constexpr uint32_t kFlagIgnoreCertDateInvalid = 0x00002000;
inline constexpr uint32_t kFlagIgnoreRedirectToHttp = 0x00008000;
inline constexpr uint32_t kFlagIgnoreRedirectToHttps = 0x00004000;
inline constexpr uint32_t kFlagKeepConnection = 0x00400000;
inline constexpr uint32_t kFlagNoAuth = 0x00040000;
inline constexpr uint32_t kFlagNoAutoRedirect = 0x00200000;
inline constexpr uint32_t kFlagNoCookies = 0x00080000;

enum TProxyAccessType { atPreconfig, atDirect, atUseProxy };

struct THttpProxy {
  TProxyAccessType AccessType = atPreconfig;
  int ProxyPort = 8080;
  std::string ProxyServer;
  std::string ProxyBypass = "127.0.0.1;";
  std::string ProxyUsername;
  std::string ProxyPassword;
};

// The root handle's access types.
inline constexpr int kOpenTypePreconfig = 0;
inline constexpr int kOpenTypeDirect = 1;
inline constexpr int kOpenTypeProxy = 3;
int InternetOpenAccessType(TProxyAccessType accessType);

// How the transport is told to reach the network.
struct TProxySetting {
  bool UseEnvironment = true;  // the system's own configuration (http_proxy, no_proxy)
  std::string Proxy;           // "" with UseEnvironment false: no proxy at all
  std::string NoProxy;         // comma-separated hosts that bypass Proxy
};
TProxySetting ProxySettingFor(const THttpProxy& proxy);

// Milliseconds; 0 leaves the transport's own.
struct THttpTimeouts {
  uint32_t ConnectTimeout = 0;
  uint32_t ReceiveTimeout = 0;
  uint32_t SendTimeout = 0;
};

}  // namespace quillet
