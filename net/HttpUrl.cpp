#include "net/HttpUrl.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

#include "hex/HexDigit.h"

namespace quillet {
namespace {

struct UrlHandleDeleter {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};

// One part as stored in the handle, still encoded; empty when absent.
std::string Part(CURLU* handle, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(handle, part, &text, flags) != CURLUE_OK || !text) return {};
  std::string result(text);
  curl_free(text);
  return result;
}

}  // namespace

std::string URLEncode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    const bool escape = c < 0x20 || c >= 0x80 || c == ' ' || c == '#' || c == '%' || c == '*' ||
                        c == '+' || c == '<' || c == '>';
    if (escape) {
      out += '%';
      out += kUpperHexDigits[c >> 4];
      out += kUpperHexDigits[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<TUrlParts> ParseURL(const std::string& url) {
  const std::string full = url.find("://") == std::string::npos ? "http://" + url : url;
  std::unique_ptr<CURLU, UrlHandleDeleter> handle(curl_url());
  if (!handle) return std::nullopt;
  if (curl_url_set(handle.get(), CURLUPART_URL, full.c_str(),
                   CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE) != CURLUE_OK)
    return std::nullopt;
  TUrlParts parts;
  parts.Scheme = Part(handle.get(), CURLUPART_SCHEME);
  parts.Host = Part(handle.get(), CURLUPART_HOST);
  parts.Port = std::atoi(Part(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str());
  // Decoded here rather than by the library, which would also turn "+" into a blank.
  parts.UserName = PercentDecode(Part(handle.get(), CURLUPART_USER));
  parts.Password = PercentDecode(Part(handle.get(), CURLUPART_PASSWORD));
  parts.Path = PercentDecode(Part(handle.get(), CURLUPART_PATH));
  char* query = nullptr;
  if (curl_url_get(handle.get(), CURLUPART_QUERY, &query, 0) == CURLUE_OK && query) {
    parts.ExtraInfo = "?" + PercentDecode(query);
    curl_free(query);
  }
  if (parts.Path.empty()) parts.Path = "/";
  if (parts.Scheme.size() > 32 || parts.Host.size() > 256 || parts.UserName.size() > 128 ||
      parts.Password.size() > 128 || parts.Path.size() > 2048 || parts.ExtraInfo.size() > 2048 ||
      parts.Host.empty())
    return std::nullopt;
  return parts;
}

std::string RequestURL(const TUrlParts& parts) {
  return parts.Scheme + "://" + parts.Host + ":" + std::to_string(parts.Port) +
         URLEncode(parts.Path) + URLEncode(parts.ExtraInfo);
}

}  // namespace quillet
