#include "net/HttpClient.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <ostream>
#include <string>
#include <vector>

#include "net/HttpStatusText.h"
#include "tests/support/EventLoopHelpers.h"
#include "tests/support/LoopbackHttpServer.h"

namespace quillet {
namespace {

using test::ClosedPort;
using test::LoopbackHttpServer;
using test::PumpFor;
using test::PumpUntil;
using test::Reply;
using test::ScriptedReply;
using test::ScriptStep;

std::string Text(TMemoryStream& stream) {
  std::string text(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  stream.Read(text.data(), text.size());
  return text;
}

bool OnMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// Binds every outcome event of a client and writes down what arrived, in order.
struct Recorder {
  explicit Recorder(THttpClient& client) {
    client.OnDone = [&](TComponent*, const std::string& contentType, int32_t fileSize, TMemoryStream& stream) {
      onUi = onUi && OnMainThread();
      events.push_back("done");
      this->contentType = contentType;
      this->fileSize = fileSize;
      body = Text(stream);
      capacity = stream.Capacity();
    };
    client.OnHTTPError = [&](TComponent*, int32_t code, TMemoryStream& stream) {
      onUi = onUi && OnMainThread();
      events.push_back("http error " + std::to_string(code));
      body = Text(stream);
    };
    client.OnConnLost = [&](TComponent*, const std::string&, int32_t fileSize, int32_t bytesRead,
                            TMemoryStream& stream) {
      onUi = onUi && OnMainThread();
      events.push_back("connection lost");
      this->fileSize = fileSize;
      this->bytesRead = bytesRead;
      body = Text(stream);
      capacity = stream.Capacity();
    };
    client.OnHostUnreachable = [&](TComponent*) {
      onUi = onUi && OnMainThread();
      events.push_back("host unreachable");
    };
    client.OnAnyError = [&](TComponent*) {
      onUi = onUi && OnMainThread();
      events.push_back("any error");
    };
  }
  bool Finished() const {
    return !events.empty() && (events.back() == "done" || events.back() == "any error");
  }

  std::vector<std::string> events;
  std::string contentType;
  int32_t fileSize = -1;
  int32_t bytesRead = -1;
  std::string body;
  size_t capacity = 0;
  bool onUi = true;
};

struct ReplyCase {
  std::string name;
  std::string reply;
  std::vector<std::string> events;
  int32_t status;
  int32_t fileSize;  // as OnDone or OnConnLost carries it; -1 when neither runs
  std::string body;
  friend void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(HttpClientReply, EventsStatusAndBody) {
  const ReplyCase& c = GetParam();
  LoopbackHttpServer server({Reply(c.reply)});
  THttpClient client;
  Recorder recorder(client);
  client.URL = server.BaseUrl() + "/item";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, c.events);
  EXPECT_EQ(client.StatusCode(), c.status);
  EXPECT_EQ(recorder.fileSize, c.fileSize);
  EXPECT_EQ(recorder.body, c.body);
  EXPECT_TRUE(recorder.onUi);
}

const std::string kHtml404 = "<html><body>missing</body></html>";

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpClientReply,
    testing::Values(
        ReplyCase{"WithContentLength",
                  "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello",
                  {"done"}, 200, 5, "hello"},
        ReplyCase{"WithoutContentLength",
                  "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhello world", {"done"}, 200, 11,
                  "hello world"},
        ReplyCase{"Chunked",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                  "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
                  {"done"}, 200, 11, "hello world"},
        ReplyCase{"Empty", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", {"done"}, 200, 0, ""},
        ReplyCase{"NotFoundWithPage",
                  "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                      std::to_string(kHtml404.size()) + "\r\n\r\n" + kHtml404,
                  {"http error 404", "any error"}, 404, -1, kHtml404},
        ReplyCase{"ServerErrorWithoutBody",
                  "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
                  {"http error 500", "any error"}, 500, -1, ""},
        ReplyCase{"ShorterThanAnnounced",
                  "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(60, 'x'),
                  {"connection lost", "any error"}, 200, 100, std::string(60, 'x')},
        // Without a length the cut is seen only through the broken chunk framing.
        ReplyCase{"ChunkedCutShort",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n20\r\nabc",
                  {"connection lost", "any error"}, 200, 0, "helloabc"},
        // The transport refuses a status line without a numeric code, so no status is read.
        ReplyCase{"StatusCodeNotANumber", "HTTP/1.1 abc Odd\r\nContent-Length: 2\r\n\r\nok",
                  {"host unreachable", "any error"}, -1, -1, ""}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST(HttpClient, AHostileContentLengthIsNotAllocatedUpFront) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\n0123456789")});
  THttpClient client;
  Recorder recorder(client);
  client.URL = server.BaseUrl() + "/big";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"connection lost", "any error"}));
  EXPECT_EQ(recorder.fileSize, 2000000000);
  // Ended at the headers: a body that large would not be kept anyway.
  EXPECT_EQ(recorder.bytesRead, 0);
  EXPECT_EQ(recorder.body, "");
  EXPECT_LE(recorder.capacity, kMaxBodySize);
}

TEST(HttpClient, ClosedPortIsUnreachable) {
  THttpClient client;
  Recorder recorder(client);
  client.URL = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"host unreachable", "any error"}));
  EXPECT_EQ(client.StatusCode(), -1);
}

TEST(HttpClient, FollowsARedirectAndReportsTheNewUrl) {
  LoopbackHttpServer server({Reply("HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 0\r\n"
                                   "Connection: close\r\n\r\n"),
                             Reply("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone")});
  THttpClient client;
  Recorder recorder(client);
  std::vector<std::string> redirects;
  bool redirectOnWorker = false;
  client.OnRedirected = [&](TComponent*, const std::string& url) {
    redirects.push_back(url);
    redirectOnWorker = !OnMainThread();
  };
  client.URL = server.BaseUrl() + "/start";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"done"}));
  EXPECT_EQ(recorder.body, "done");
  EXPECT_EQ(redirects, (std::vector<std::string>{server.BaseUrl() + "/final"}));
  EXPECT_TRUE(redirectOnWorker);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].rfind("GET /final HTTP/1.1\r\n", 0), 0u) << requests[1];
}

TEST(HttpClient, ARedirectLoopReportsOnlyTheRedirectsFollowed) {
  LoopbackHttpServer server({Reply("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n"
                                   "Connection: close\r\n\r\n")});
  THttpClient client;
  Recorder recorder(client);
  std::vector<std::string> redirects;
  client.OnRedirected = [&](TComponent*, const std::string& url) { redirects.push_back(url); };
  int redirectStatuses = 0;
  client.OnStatusChanged = [&](TComponent*, int id, const std::string&) {
    if (id == hsRedirect) ++redirectStatuses;
  };
  client.URL = server.BaseUrl() + "/start";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"host unreachable", "any error"}));
  // Every request after the first is one followed redirect.
  const size_t followed = server.Requests().size() - 1;
  EXPECT_EQ(followed, 30u);
  EXPECT_EQ(redirects.size(), followed);
  EXPECT_EQ(static_cast<size_t>(redirectStatuses), followed);
}

struct BodyLimitCase {
  std::string name;
  bool announced;  // Content-Length sent
  size_t size;
  std::vector<std::string> events;
  friend void PrintTo(const BodyLimitCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientBodyLimit : public testing::TestWithParam<BodyLimitCase> {};

TEST_P(HttpClientBodyLimit, ABodyBeyondTheLimitEndsTheRequest) {
  const BodyLimitCase& c = GetParam();
  const std::string head = c.announced ? "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.size) + "\r\n\r\n"
                                       : std::string("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
  LoopbackHttpServer server({Reply(head + std::string(c.size, 'b'))});
  THttpClient client;
  Recorder recorder(client);
  int64_t largestStream = 0;
  client.OnProgress = [&](TComponent*, const std::string&, int32_t, int32_t, int32_t, int32_t, int32_t, float,
                          TMemoryStream& stream) { largestStream = std::max(largestStream, stream.Size()); };
  client.URL = server.BaseUrl() + "/";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, c.events);
  EXPECT_LE(largestStream, static_cast<int64_t>(kMaxBodySize));
  EXPECT_LE(recorder.body.size(), kMaxBodySize);
  EXPECT_LE(client.BytesRead(), static_cast<int32_t>(kMaxBodySize));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, HttpClientBodyLimit,
    testing::Values(BodyLimitCase{"AtTheLimit", false, kMaxBodySize, {"done"}},
                    BodyLimitCase{"AnnouncedAtTheLimit", true, kMaxBodySize, {"done"}},
                    BodyLimitCase{"OneByteMore", false, kMaxBodySize + 1, {"connection lost", "any error"}},
                    BodyLimitCase{"AnnouncedOneByteMore", true, kMaxBodySize + 1, {"connection lost", "any error"}},
                    BodyLimitCase{"KeepsSending", false, 3 * kMaxBodySize, {"connection lost", "any error"}}),
    [](const testing::TestParamInfo<BodyLimitCase>& info) { return info.param.name; });

TEST(HttpClient, WithoutAutoRedirectTheRedirectIsTheOutcome) {
  LoopbackHttpServer server({Reply("HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 0\r\n\r\n")});
  THttpClient client;
  Recorder recorder(client);
  client.InternetOptions |= OptionBit(ioNoAutoRedirect);
  client.URL = server.BaseUrl() + "/start";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"http error 302", "any error"}));
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpClient, RequestOnTheWireEncodesTheQueryAndCarriesTheSettings) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")});
  THttpClient client;
  Recorder recorder(client);
  client.Agent = "QuilletTest/1";
  client.Referer = "http://referrer.test/";
  client.AddHeaders = {"X-Probe: 1"};
  // No scheme: fetched over plain HTTP.
  client.URL = "127.0.0.1:" + std::to_string(server.Port()) + "/dir/info?name=a b+c&path=x/y=1";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"done"}));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& head = requests[0];
  EXPECT_EQ(head.rfind("GET /dir/info?name=a%20b%2Bc&path=x/y=1 HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: QuilletTest/1\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nAccept: text/html, */*\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nReferer: http://referrer.test/\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nX-Probe: 1\r\n"), std::string::npos) << head;
  EXPECT_EQ(client.RequestFlags(), 0x00400C10u);
}

struct UnsentCase {
  std::string name;
  std::function<void(THttpClient&)> configure;
  friend void PrintTo(const UnsentCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientUnsent : public testing::TestWithParam<UnsentCase> {};

// Settings that end the request before anything reaches the server.
TEST_P(HttpClientUnsent, EndsAsUnreachableWithoutContactingTheServer) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")});
  THttpClient client;
  Recorder recorder(client);
  client.URL = server.BaseUrl() + "/";
  GetParam().configure(client);
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"host unreachable", "any error"}));
  EXPECT_EQ(client.StatusCode(), -1);
  PumpFor(20);
  EXPECT_TRUE(server.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, HttpClientUnsent,
    testing::Values(
        UnsentCase{"MalformedExtraHeader", [](THttpClient& c) { c.AddHeaders = {"no colon here"}; }},
        UnsentCase{"HeaderWithLineBreak", [](THttpClient& c) { c.AddHeaders = {"X-A: 1\r\nX-B: 2"}; }},
        // Offline only a cache could answer, and there is none.
        UnsentCase{"WorkOffline", [](THttpClient& c) { c.WorkOffline = true; }},
        UnsentCase{"UnsplittableUrl", [](THttpClient& c) { c.URL = "http://" + std::string(300, 'h') + "/"; }},
        UnsentCase{"EmptyUrl", [](THttpClient& c) { c.URL.clear(); }}),
    [](const testing::TestParamInfo<UnsentCase>& info) { return info.param.name; });

struct CredentialsCase {
  std::string name;
  std::string urlCredentials;  // "user:password@" or empty
  std::string username, password;
  bool noAuthentication;
  std::string authorization;  // the header sent, empty for none
  friend void PrintTo(const CredentialsCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientCredentials : public testing::TestWithParam<CredentialsCase> {};

TEST_P(HttpClientCredentials, SentFromTheUrlOrTheProperties) {
  const CredentialsCase& c = GetParam();
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")});
  THttpClient client;
  Recorder recorder(client);
  client.URL = "http://" + c.urlCredentials + "127.0.0.1:" + std::to_string(server.Port()) + "/";
  client.Username = c.username;
  client.Password = c.password;
  if (c.noAuthentication) client.InternetOptions |= OptionBit(ioNoAuthentication);
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const size_t at = requests[0].find("\r\nAuthorization: ");
  if (c.authorization.empty()) {
    EXPECT_EQ(at, std::string::npos) << requests[0];
  } else {
    EXPECT_NE(requests[0].find("\r\nAuthorization: " + c.authorization + "\r\n"), std::string::npos)
        << requests[0];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientCredentials,
    testing::Values(
        CredentialsCase{"None", "", "", "", false, ""},
        CredentialsCase{"FromProperties", "", "user", "pass", false, "Basic dXNlcjpwYXNz"},
        // Decoded from the URL: "pa ss".
        CredentialsCase{"UrlWins", "url:pa%20ss@", "user", "pass", false, "Basic dXJsOnBhIHNz"},
        CredentialsCase{"PasswordFromProperties", "url@", "", "pass", false, "Basic dXJsOnBhc3M="},
        CredentialsCase{"NoAuthentication", "", "user", "pass", true, ""}),
    [](const testing::TestParamInfo<CredentialsCase>& info) { return info.param.name; });

struct TimeoutCase {
  std::string name;
  bool unansweredConnect;
  THttpTimeouts timeouts;
  friend void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientTimeout : public testing::TestWithParam<TimeoutCase> {};

TEST_P(HttpClientTimeout, EndsTheRequestAsUnreachable) {
  const TimeoutCase& c = GetParam();
  std::unique_ptr<test::UnansweredListener> listener;
  std::unique_ptr<LoopbackHttpServer> server;
  THttpClient client;
  Recorder recorder(client);
  if (c.unansweredConnect) {
    listener = std::make_unique<test::UnansweredListener>();
    client.URL = "http://127.0.0.1:" + std::to_string(listener->Port()) + "/";
  } else {
    server = std::make_unique<LoopbackHttpServer>(std::vector<ScriptedReply>{ScriptedReply{{}, true}});
    client.URL = server->BaseUrl() + "/";
  }
  client.Timeouts = c.timeouts;
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"host unreachable", "any error"}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientTimeout,
    testing::Values(TimeoutCase{"Connect", true, THttpTimeouts{300, 0, 0}},
                    TimeoutCase{"Receive", false, THttpTimeouts{0, 1000, 0}}),
    [](const testing::TestParamInfo<TimeoutCase>& info) { return info.param.name; });

struct ProxyCase {
  std::string name;
  TProxyAccessType accessType;
  bool environmentProxy;   // http_proxy names the proxy server
  std::string bypass;
  bool viaProxy;           // the request reaches the proxy, not the origin
  friend void PrintTo(const ProxyCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientProxy : public testing::TestWithParam<ProxyCase> {};

TEST_P(HttpClientProxy, AccessTypeDecidesTheRoute) {
  const ProxyCase& c = GetParam();
  LoopbackHttpServer origin({Reply("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\norigin")});
  LoopbackHttpServer proxy({Reply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nproxy")});
  THttpClient client;
  Recorder recorder(client);
  // "localhost" so that an environment no_proxy naming 127.0.0.1 does not interfere.
  client.URL = "http://localhost:" + std::to_string(origin.Port()) + "/page";
  client.Proxy.AccessType = c.accessType;
  client.Proxy.ProxyServer = "127.0.0.1";
  client.Proxy.ProxyPort = proxy.Port();
  client.Proxy.ProxyBypass = c.bypass;
  // Read by the transport on the worker, which starts after this and has ended before the reset.
  if (c.environmentProxy) setenv("http_proxy", proxy.BaseUrl().c_str(), 1);
  ASSERT_TRUE(client.Read(false));
  const bool ended = PumpUntil([&] { return !client.Busy(); });
  unsetenv("http_proxy");
  ASSERT_TRUE(ended);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"done"}));
  EXPECT_EQ(recorder.body, c.viaProxy ? "proxy" : "origin");
  if (c.viaProxy) {
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].rfind("GET http://localhost:" + std::to_string(origin.Port()) + "/page ", 0), 0u)
        << proxy.Requests()[0];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientProxy,
    testing::Values(ProxyCase{"PreconfigUsesTheEnvironment", atPreconfig, true, "", true},
                    ProxyCase{"PreconfigWithoutOne", atPreconfig, false, "", false},
                    ProxyCase{"DirectIgnoresTheEnvironment", atDirect, true, "", false},
                    ProxyCase{"NamedProxy", atUseProxy, false, "127.0.0.1;", true},
                    ProxyCase{"NamedProxyBypassed", atUseProxy, false, "127.0.0.1; localhost", false}),
    [](const testing::TestParamInfo<ProxyCase>& info) { return info.param.name; });

// Headers at once, the body a second later.
ScriptedReply SlowReply() {
  return ScriptedReply{{ScriptStep{0, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n"},
                        ScriptStep{1000, "slow"}},
                       false};
}

TEST(HttpClient, ReadWhileBusyReturnsFalseAndChangesNothing) {
  LoopbackHttpServer server({SlowReply(), Reply("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntwo")});
  THttpClient client;
  Recorder recorder(client);
  client.URL = server.BaseUrl() + "/first";
  ASSERT_TRUE(client.Read(false));
  EXPECT_TRUE(client.Busy());
  client.URL = server.BaseUrl() + "/second";
  EXPECT_FALSE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"done"}));
  EXPECT_EQ(recorder.body, "slow");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].rfind("GET /first ", 0), 0u);

  // Idle again: the next Read runs on a fresh worker.
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.body, "two");
}

TEST(HttpClient, TheStreamIsReleasedOnceOnDoneReturns) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
  THttpClient client;
  bool streamWasTheClients = false;
  bool busyInDone = false;
  bool readInDone = true;
  client.OnDone = [&](TComponent*, const std::string&, int32_t, TMemoryStream& stream) {
    streamWasTheClients = client.BodyStream() == &stream && stream.Position() == 0;
    busyInDone = client.Busy();
    readInDone = client.Read(false);
  };
  client.URL = server.BaseUrl() + "/";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_TRUE(streamWasTheClients);
  EXPECT_TRUE(busyInDone);
  EXPECT_FALSE(readInDone);
  EXPECT_EQ(client.BodyStream(), nullptr);
  // The request's state stays readable.
  EXPECT_EQ(client.StatusCode(), 200);
  EXPECT_EQ(client.BytesRead(), 2);
}

TEST(HttpClient, ARaisingHandlerStillLeavesTheClientIdle) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
  THttpClient client;
  std::vector<std::string> events;
  client.OnDone = [&](TComponent*, const std::string&, int32_t, TMemoryStream&) {
    events.push_back("done");
    throw std::runtime_error("handler failed");
  };
  client.OnAnyError = [&](TComponent*) { events.push_back("any error"); };
  client.URL = server.BaseUrl() + "/";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  PumpFor(20);
  EXPECT_EQ(events, (std::vector<std::string>{"done", "any error"}));
  EXPECT_EQ(client.BodyStream(), nullptr);
}

struct RaisingStatusCase {
  std::string name;
  int raisingId;
  std::vector<std::string> events;
  friend void PrintTo(const RaisingStatusCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientRaisingStatusHandler : public testing::TestWithParam<RaisingStatusCase> {};

TEST_P(HttpClientRaisingStatusHandler, IsReportedAndTheClientEndsIdle) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
  THttpClient client;
  Recorder recorder(client);
  const int raisingId = GetParam().raisingId;
  client.OnStatusChanged = [raisingId](TComponent*, int id, const std::string&) {
    if (id == raisingId) throw std::runtime_error("status handler failed");
  };
  client.URL = server.BaseUrl() + "/";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  PumpFor(20);
  EXPECT_EQ(recorder.events, GetParam().events);
  EXPECT_EQ(client.BodyStream(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Stage, HttpClientRaisingStatusHandler,
    testing::Values(
        // On the worker, inside the transport: the error first, then the outcome as it stood.
        RaisingStatusCase{"WhileReceivingHeaders", hsResponseReceived,
                          {"any error", "host unreachable", "any error"}},
        RaisingStatusCase{"BeforeTheTransfer", hsHandleCreated, {"any error", "host unreachable", "any error"}},
        // On the UI thread, in the completion before any outcome event.
        RaisingStatusCase{"WhileClosing", hsHandleClosing, {"any error"}}),
    [](const testing::TestParamInfo<RaisingStatusCase>& info) { return info.param.name; });

TEST(HttpClient, ProgressAfterEachChunkOnTheUiThread) {
  const std::string body(3000, 'p');
  LoopbackHttpServer server({ScriptedReply{{ScriptStep{0, "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n"},
                                            ScriptStep{0, body.substr(0, 1000)},
                                            ScriptStep{300, body.substr(1000, 1000)},
                                            ScriptStep{300, body.substr(2000)}},
                                           false}});
  THttpClient client;
  Recorder recorder(client);
  client.TransferBufferSize = 255;
  std::vector<int32_t> reads;
  std::vector<int32_t> percents;
  bool onUi = true;
  bool sizesAgree = true;
  client.OnProgress = [&](TComponent*, const std::string&, int32_t dataSize, int32_t bytesRead, int32_t,
                          int32_t, int32_t percent, float rate, TMemoryStream& stream) {
    onUi = onUi && OnMainThread();
    sizesAgree = sizesAgree && dataSize == 3000 && stream.Size() == bytesRead && rate >= 0;
    reads.push_back(bytesRead);
    percents.push_back(percent);
  };
  client.URL = server.BaseUrl() + "/";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"done"}));
  EXPECT_TRUE(onUi);
  EXPECT_TRUE(sizesAgree);
  // 255-byte reads: at least ceil(3000 / 255) of them, each at most 255 bytes more.
  ASSERT_GE(reads.size(), 12u);
  int32_t previous = 0;
  for (int32_t r : reads) {
    EXPECT_GT(r, previous);
    EXPECT_LE(r - previous, 255);
    previous = r;
  }
  EXPECT_EQ(reads.back(), 3000);
  EXPECT_EQ(percents.back(), 100);
}

TEST(HttpClient, StatusEventsFollowTheRequestStages) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
  THttpClient client;
  Recorder recorder(client);
  std::vector<int> ids;
  std::vector<std::string> texts;
  client.OnStatusChanged = [&](TComponent*, int id, const std::string& text) {
    ids.push_back(id);
    texts.push_back(text);
  };
  std::vector<std::string> beforeSend;
  client.OnBeforeSendRequest = [&](TComponent*, void* request) {
    beforeSend.push_back(std::string(request ? "handle" : "no handle") + (OnMainThread() ? " on ui" : " on worker"));
  };
  client.URL = server.BaseUrl() + "/";
  ASSERT_TRUE(client.Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(ids, (std::vector<int>{60, 10, 11, 20, 21, 30, 31, 40, 41, 100, 70}));
  EXPECT_EQ(beforeSend, (std::vector<std::string>{"handle on worker"}));
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(texts[i], HttpStatusText(ids[i]));
}

TEST(HttpClient, ForceWaitBlocksUntilTheOutcomeHasBeenReported) {
  LoopbackHttpServer server({SlowReply()});
  THttpClient client;
  Recorder recorder(client);
  client.URL = server.BaseUrl() + "/";
  EXPECT_TRUE(client.Read(true));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"done"}));
  EXPECT_FALSE(client.Busy());
  EXPECT_FALSE(client.WaitThread);
}

TEST(HttpClient, WaitTimeoutEndsAStalledRequest) {
  LoopbackHttpServer server({ScriptedReply{{}, true}});  // reads the request, never answers
  THttpClient client;
  Recorder recorder(client);
  bool timeoutReported = false;
  client.OnWaitTimeoutExpired = [&](TComponent*, bool&) { timeoutReported = true; };
  client.WaitTimeout = 300;
  client.URL = server.BaseUrl() + "/";
  EXPECT_FALSE(client.Read(true));
  EXPECT_TRUE(timeoutReported);
  ASSERT_TRUE(PumpUntil([&] { return !client.Busy(); }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"host unreachable", "any error"}));
}

struct DestroyInEventCase {
  std::string name;
  std::string reply;
  bool forceWait;
  // Binds the event that destroys the client; every bound event writes its name down first.
  std::function<void(THttpClient&, std::vector<std::string>&, const std::function<void()>&)> bind;
  std::vector<std::string> events;
  friend void PrintTo(const DestroyInEventCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientDestroyedInItsEvent : public testing::TestWithParam<DestroyInEventCase> {};

// A careless handler may free the client that calls it: nothing may touch the client afterwards,
// and the UI thread must not wait for a worker that is itself waiting for this very call.
TEST_P(HttpClientDestroyedInItsEvent, IsSafeAndPrompt) {
  const DestroyInEventCase& c = GetParam();
  LoopbackHttpServer server({Reply(c.reply)});
  auto client = std::make_unique<THttpClient>();
  std::vector<std::string> events;
  std::chrono::milliseconds destroyTook{-1};
  const std::function<void()> destroy = [&] {
    const auto start = std::chrono::steady_clock::now();
    client.reset();
    destroyTook = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  };
  client->OnAnyError = [&](TComponent*) { events.push_back("any error"); };
  c.bind(*client, events, destroy);  // may bind OnAnyError itself
  client->TransferBufferSize = 255;
  client->URL = server.BaseUrl() + "/";
  client->Read(c.forceWait);
  ASSERT_TRUE(PumpUntil([&] { return client == nullptr; }));
  PumpFor(50);
  EXPECT_EQ(events, c.events);
  // Hang guard only: a destruction that waits for the worker would take the full wait limit.
  EXPECT_LT(destroyTook.count(), 2000);
  EXPECT_GE(destroyTook.count(), 0);
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
const std::string kMissing = "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone";

INSTANTIATE_TEST_SUITE_P(
    Events, HttpClientDestroyedInItsEvent,
    testing::Values(
        DestroyInEventCase{"OnDone", kOk, false,
                           [](THttpClient& client, auto& events, const auto& destroy) {
                             client.OnDone = [&](TComponent*, const std::string&, int32_t, TMemoryStream&) {
                               events.push_back("done");
                               destroy();
                             };
                           },
                           {"done"}},
        DestroyInEventCase{"OnDoneOfAWaitingRead", kOk, true,
                           [](THttpClient& client, auto& events, const auto& destroy) {
                             client.OnDone = [&](TComponent*, const std::string&, int32_t, TMemoryStream&) {
                               events.push_back("done");
                               destroy();
                             };
                           },
                           {"done"}},
        DestroyInEventCase{"OnHTTPError", kMissing, false,
                           [](THttpClient& client, auto& events, const auto& destroy) {
                             client.OnHTTPError = [&](TComponent*, int32_t, TMemoryStream&) {
                               events.push_back("http error");
                               destroy();
                             };
                           },
                           {"http error"}},
        DestroyInEventCase{"OnAnyError", kMissing, false,
                           [](THttpClient& client, auto& events, const auto& destroy) {
                             client.OnHTTPError = [&](TComponent*, int32_t, TMemoryStream&) {
                               events.push_back("http error");
                             };
                             client.OnAnyError = [&](TComponent*) {
                               events.push_back("any error");
                               destroy();
                             };
                           },
                           {"http error", "any error"}},
        DestroyInEventCase{"OnProgress", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(1000, 'p'),
                           false,
                           [](THttpClient& client, auto& events, const auto& destroy) {
                             client.OnDone = [&](TComponent*, const std::string&, int32_t, TMemoryStream&) {
                               events.push_back("done");
                             };
                             client.OnProgress = [&](TComponent*, const std::string&, int32_t, int32_t, int32_t,
                                                     int32_t, int32_t, float, TMemoryStream&) {
                               events.push_back("progress");
                               destroy();
                             };
                           },
                           {"progress"}}),
    [](const testing::TestParamInfo<DestroyInEventCase>& info) { return info.param.name; });

struct ShutdownCase {
  std::string name;
  bool unansweredConnect;  // else the server accepts and stays silent
  friend void PrintTo(const ShutdownCase& c, std::ostream* os) { *os << c.name; }
};

class HttpClientShutdown : public testing::TestWithParam<ShutdownCase> {};

// The process must be able to end while a request still waits on the network.
TEST_P(HttpClientShutdown, DestroyingTheClientEndsTheRunningRequestUnreported) {
  std::unique_ptr<test::UnansweredListener> listener;
  std::unique_ptr<LoopbackHttpServer> server;
  std::string url;
  if (GetParam().unansweredConnect) {
    listener = std::make_unique<test::UnansweredListener>();
    url = "http://127.0.0.1:" + std::to_string(listener->Port()) + "/";
  } else {
    server = std::make_unique<LoopbackHttpServer>(std::vector<ScriptedReply>{ScriptedReply{{}, true}});
    url = server->BaseUrl() + "/";
  }
  std::vector<std::string> events;
  {
    THttpClient client;
    Recorder recorder(client);
    client.URL = url;
    ASSERT_TRUE(client.Read(false));
    PumpFor(200);
    EXPECT_TRUE(client.Busy());
    // Wait without limit: destruction returns only if the request really ends.
    client.WorkerThread().TerminateWaitLimit = 0;
    events = recorder.events;
  }
  PumpFor(20);
  EXPECT_TRUE(events.empty());
}

INSTANTIATE_TEST_SUITE_P(Waiting, HttpClientShutdown,
                         testing::Values(ShutdownCase{"OnConnect", true}, ShutdownCase{"OnReply", false}),
                         [](const testing::TestParamInfo<ShutdownCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quillet
