#include "app/UpdateReply.h"

#include <json/json.h>

#include <QCoreApplication>
#include <charconv>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "app/Translations.h"
#include "app/UpdateQuery.h"

namespace quillet {
namespace {

constexpr char kJsonException[] = "JSON exception";
// The status the program ends with when the service tells it to stop.
constexpr int kStoppedByServiceStatus = 2;

struct ReplyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A value read as text: strings as they are, null and absent keys as "", true and false by name.
// Numbers, arrays and objects are not text.
std::string TextOf(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      return {};
    case Json::stringValue:
      return value.asString();
    case Json::booleanValue:
      return value.asBool() ? "true" : "false";
    default:
      throw ReplyError("value is not text");
  }
}

}  // namespace

void ExitProcessNow(int status) {
  QCoreApplication::quit();
  std::exit(status);
}

std::optional<int32_t> StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  // Unsigned, so a second sign is not a digit; more than 32 bits is out of range.
  uint32_t magnitude = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + i, end, magnitude, hex ? 16 : 10);
  if (error != std::errc() || stop != end) return std::nullopt;
  if (hex) {
    // Hexadecimal covers all 32 bits, the top one being the sign.
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  }
  const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

CUpdateReplyHandler::CUpdateReplyHandler(TUpdateReplyHooks hooks) : hooks_(std::move(hooks)) {}

void CUpdateReplyHandler::Log(const std::string& message) const {
  if (hooks_.AppendLog) hooks_.AppendLog(message);
}

void CUpdateReplyHandler::HttpInfoDone(TComponent*, const std::string&, int32_t FileSize,
                                       TMemoryStream& Stream) {
  // Never beyond the stream, whatever FileSize claims.
  const int64_t size = FileSize > 0 ? std::min<int64_t>(FileSize, Stream.Size()) : Stream.Size();
  std::string text(static_cast<size_t>(size), '\0');
  Stream.SetPosition(0);
  text.resize(Stream.Read(text.data(), text.size()));
  Log(text);

  Json::Value parsed;
  try {
    Json::Reader reader(Json::Features::all());
    if (!reader.parse(text, parsed, false)) return;
  } catch (const std::exception&) {
    // The reader raises instead of failing when nesting passes its depth limit.
    return;
  }
  const Json::Value& reply = parsed;

  try {
    if (reply.isMember("code")) Log(TextOf(reply["msg"]));
    if (reply.isMember("die")) {
      const std::string message = TextOf(reply["msg"]);
      if (hooks_.ShowMessage) hooks_.ShowMessage(message);
      if (hooks_.TerminateProcess) hooks_.TerminateProcess(kStoppedByServiceStatus);
      return;
    }
    const std::string versionText = TextOf(reply["version"]);
    const std::optional<int32_t> version = StrToInt(versionText);
    if (!version) throw ReplyError("version is not a whole number");
    Log('\n' + TextOf(reply["des"]));
    if (*version <= kProgramVersion) return;
    const std::string downloadUrl = TextOf(reply["downloadurl"]);
    Log(FillIn(QCoreApplication::translate("UpdateReply",
                                           "\n\nNew version: %1\nDownload: %2\nReleased: %3\nWhat is new\n%4\n\n"),
               {versionText, downloadUrl, TextOf(reply["updatetime"]), TextOf(reply["updatecontent"])}));
    if (reply.isMember("mustugrade")) {
      if (reply.isMember("msg") && hooks_.ShowMessage) hooks_.ShowMessage(TextOf(reply["msg"]));
      if (hooks_.ShellOpen) hooks_.ShellOpen(downloadUrl);
    }
  } catch (const std::exception&) {
    // Ours and the JSON library's (a top-level value that is not an object) alike.
    Log(kJsonException);
  }
}

}  // namespace quillet
