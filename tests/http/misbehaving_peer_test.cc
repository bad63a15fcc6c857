// The client against peers that misbehave: heads that never end, huge or
// malformed sizes, closes at awkward moments, silence and trickles. Each
// must end in a defined way, within the head's bounds and the read
// time-out, and leave the connection closed when it fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/net_exception.h"
#include "http/net_http.h"
#include "tests/http/http_test_util.h"
#include "tests/http/script_server.h"

namespace downsql::http {
namespace {

using testing::AnswerAndClose;
using testing::ErrorOfGet;
using testing::Pause;
using testing::ReadHead;
using testing::ScriptServer;
using testing::Send;
using testing::Step;

const std::string kOk = "HTTP/1.1 200 OK\r\n";

// count header lines of exactly line_size bytes each, line end included.
std::string HeaderLines(size_t count, size_t line_size) {
  std::string line = "X-Fill: " + std::string(line_size - 10, 'f') + "\r\n";
  std::string lines;
  lines.reserve(count * line.size());
  for (size_t i = 0; i < count; ++i) lines += line;
  return lines;
}

// A head of exactly size bytes of status and header lines.
std::string HeadOfSize(size_t size) {
  const size_t line = 1000;
  size_t rest = size - kOk.size();
  return kOk + HeaderLines(rest / line - 1, line) + HeaderLines(1, line + rest % line);
}

TEST(MisbehavingPeerTest, EachEndsAsDefined) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    std::string body;
    std::string error;
    int read_timeout_ms = 0;
  };
  const std::string too_long =
      "Answer head too long: more than 1048576 bytes of status and header lines.";
  const std::string too_many = "Answer head too long: more than 10000 header lines.";
  std::vector<Step> trickle = {ReadHead(), Send(kOk + "Content-Length: 5\r\n\r\n")};
  for (char ch : std::string("abcde")) {
    trickle.push_back(Pause(150));
    trickle.push_back(Send(std::string(1, ch)));
  }
  const Case cases[] = {
      // Header lines without end: the first 1 MiB is all the client reads.
      {"head flood", {ReadHead(), Send(kOk + HeaderLines(8192, 1024) + "\r\n")}, "", too_long},
      // The head's bytes are its status and header lines with their line
      // ends; "Content-Length: 2\r\n" is 19 of them.
      {"head of exactly 1 MiB",
       AnswerAndClose(HeadOfSize((1 << 20) - 19) + "Content-Length: 2\r\n\r\nok"), "ok", ""},
      {"head of 1 MiB and one byte",
       AnswerAndClose(HeadOfSize((1 << 20) - 18) + "Content-Length: 2\r\n\r\nok"), "", too_long},
      {"10,000 header lines",
       AnswerAndClose(kOk + HeaderLines(9999, 10) + "Content-Length: 2\r\n\r\nok"), "ok", ""},
      {"10,001 header lines",
       AnswerAndClose(kOk + HeaderLines(10000, 10) + "Content-Length: 2\r\n\r\nok"), "", too_many},
      // Interim answers count into the same head.
      {"endless 100 Continue",
       {ReadHead(), Send([] {
          std::string heads;
          for (int i = 0; i < 50000; ++i) heads += "HTTP/1.1 100 Continue\r\n\r\n";
          return heads;
        }())},
       "",
       too_long},
      {"one endless line",
       {ReadHead(), Send(kOk + "X-Long: " + std::string(4 << 20, 'v'))},
       "",
       "Max line length exceeded."},
      {"chunk size beyond 64 bits",
       AnswerAndClose(kOk + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nabc"), "",
       "Connection Closed Gracefully."},
      {"chunk size of 2 GiB, then close",
       AnswerAndClose(kOk + "Transfer-Encoding: chunked\r\n\r\n7FFFFFFF\r\nabc"), "abc",
       "Connection Closed Gracefully."},
      // Not a number: size 0 ends the body; the next line is the trailer.
      {"malformed chunk size",
       AnswerAndClose(kOk + "Transfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n"), "", ""},
      {"length beyond the body, then close",
       AnswerAndClose(kOk + "Content-Length: 1000000\r\n\r\nabc"), "abc", ""},
      // Too long to be a length: the body runs until the close.
      {"length of 20 digits",
       AnswerAndClose(kOk + "Content-Length: 99999999999999999999\r\n\r\nabc"), "abc", ""},
      {"close in the middle of the head", AnswerAndClose(kOk + "Content-Type: text/pl"), "",
       "Undefined situation"},
      {"silent after the request", {ReadHead()}, "", "Read Timeout", 300},
      {"silent in the middle of the body",
       {ReadHead(), Send(kOk + "Content-Length: 10\r\n\r\nabc")},
       "abc",
       "Read Timeout",
       300},
      // Never silent for as long as the limit: never cut off.
      {"one byte every 150 ms", trickle, "abcde", "", 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptServer server({c.script});
    TNetHTTP client;
    client.ReadTimeout = c.read_timeout_ms;
    TNetMemoryStream body;
    std::string error;
    try {
      client.Get(server.url("/x"), body);
    } catch (const ENetException& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(body.Data(), c.body);
    if (!error.empty()) {
      EXPECT_FALSE(client.Connected());
    }
    EXPECT_EQ(client.ReadTimeout, c.read_timeout_ms);
  }
}

TEST(MisbehavingPeerTest, HeadTooLongIsAProtocolErrorWithTheStatus) {
  ScriptServer server({{ReadHead(), Send("HTTP/1.1 404 Not Found\r\n" + HeaderLines(10001, 10))}});
  TNetHTTP client;
  TNetMemoryStream body;
  auto e = ErrorOfGet<ENetHTTPProtocolException>(client, server.url("/x"), body);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 404);
  EXPECT_STREQ(e->what(), "Answer head too long: more than 10000 header lines.");
  EXPECT_EQ(e->ErrorMessage(), "");
}

TEST(MisbehavingPeerTest, ReadTimeoutComesBackWhateverEndsTheErrorBody) {
  // The body of a failing answer is read under a time-out of its own; a
  // progress hook that throws must not leave that time-out behind.
  ScriptServer server({AnswerAndClose("HTTP/1.1 500 Oops\r\nContent-Length: 7\r\n\r\npartial")});
  TNetHTTP client;
  client.ReadTimeout = 1234;
  client.OnWork = [](TNetComponent&, TWorkMode, int64_t) { throw std::runtime_error("hook"); };
  TNetMemoryStream body;
  EXPECT_THROW(client.Get(server.url("/x"), body), std::runtime_error);
  EXPECT_EQ(client.ReadTimeout, 1234);
}

}  // namespace
}  // namespace downsql::http
