#pragma once
// Splitting a URL into the parts a request is made of, and encoding the part after the path.

#include <optional>
#include <string>

namespace quillet {

// Bytes below 0x20 or from 0x80 up, and blank # % * + < >, become "%" and two upper-case hex
// digits; every other byte passes unchanged.
std::string URLEncode(const std::string& text);

// Turns each "%" followed by two hex digits into its byte; anything else, "+" included, stays.
std::string PercentDecode(const std::string& text);

struct TUrlParts {
  std::string Scheme;
  std::string Host;
  int Port = 0;
  std::string UserName;  // decoded
  std::string Password;  // decoded
  std::string Path;      // decoded
  std::string ExtraInfo; // "?" and the decoded query, empty without one; the fragment is dropped
};

// Puts "http://" in front when "://" is missing. Empty when the URL cannot be split or a part is
// longer than the client's buffer for it (scheme 32, host 256, user 128, password 128, path and
// query 2048).
std::optional<TUrlParts> ParseURL(const std::string& url);

// The URL handed to the transport: the parts joined again, path and extra part encoded.
std::string RequestURL(const TUrlParts& parts);

}  // namespace quillet
