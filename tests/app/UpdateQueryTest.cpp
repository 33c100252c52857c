#include "app/UpdateQuery.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/EventLoopHelpers.h"
#include "tests/support/LoopbackHttpServer.h"

namespace quillet {
namespace {

using test::LoopbackHttpServer;
using test::PumpFor;
using test::PumpUntil;
using test::Reply;

TEST(VersionQuery, UrlEndsInTheVersionPath) {
  EXPECT_EQ(VersionInfoURL("updates.test"),
            "http://updates.test/Upgrade/Info/n/tarnwick/json/1/version/200");
}

TEST(VersionQuery, AsksTheServiceForThisVersionAndLogsNothing) {
  LoopbackHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 17\r\n\r\n{\"version\":\"300\"}")});
  THttpClient HttpInfo;
  std::vector<std::string> log;
  CUpdateQuery query(HttpInfo, [&](const std::string& m) { log.push_back(m); },
                     "127.0.0.1:" + std::to_string(server.Port()));
  query.QueryVersionInfo();
  EXPECT_TRUE(HttpInfo.Busy());  // started, not waited for
  ASSERT_TRUE(PumpUntil([&] { return !HttpInfo.Busy(); }));
  EXPECT_EQ(HttpInfo.StatusCode(), 200);
  EXPECT_TRUE(log.empty());
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /Upgrade/Info/n/tarnwick/json/1/version/200 HTTP/1.1\r\n", 0), 0u)
      << requests[0];
  EXPECT_NE(requests[0].find(std::string("\r\nUser-Agent: ") + kUpdateAgent + "\r\n"), std::string::npos);
}

TEST(VersionQuery, AnUnreachableServiceLeavesNoTrace) {
  THttpClient HttpInfo;
  std::vector<std::string> log;
  CUpdateQuery query(HttpInfo, [&](const std::string& m) { log.push_back(m); },
                     "127.0.0.1:" + std::to_string(test::ClosedPort()));
  query.QueryVersionInfo();
  ASSERT_TRUE(PumpUntil([&] { return !HttpInfo.Busy(); }));
  EXPECT_EQ(HttpInfo.StatusCode(), -1);
  EXPECT_TRUE(log.empty());
}

TEST(VersionQuery, ASecondQueryWhileTheFirstRunsIsIgnoredQuietly) {
  LoopbackHttpServer server({test::ScriptedReply{{{0, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n"}, {500, "{}"}}, false}});
  THttpClient HttpInfo;
  std::vector<std::string> log;
  CUpdateQuery query(HttpInfo, [&](const std::string& m) { log.push_back(m); },
                     "127.0.0.1:" + std::to_string(server.Port()));
  query.QueryVersionInfo();
  query.QueryVersionInfo();
  ASSERT_TRUE(PumpUntil([&] { return !HttpInfo.Busy(); }));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(VersionQuery, AQueryThatCannotStartIsLogged) {
  std::vector<std::string> log;
  std::string askedFor;
  CUpdateQuery query(
      [&](const std::string& url) {
        askedFor = url;
        throw std::runtime_error("no thread");
      },
      [&](const std::string& m) { log.push_back(m); }, "svc.test");
  query.QueryVersionInfo();
  EXPECT_EQ(askedFor, "http://svc.test/Upgrade/Info/n/tarnwick/json/1/version/200");
  EXPECT_EQ(log, (std::vector<std::string>{"获取版本信息失败  "}));
}

}  // namespace
}  // namespace quillet
