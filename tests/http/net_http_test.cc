#include "http/net_http.h"

#include <gtest/gtest.h>

#include "http/net_exception.h"
#include "tests/http/http_test_util.h"
#include "tests/http/script_server.h"

namespace downsql::http {
namespace {

using testing::AnswerAndClose;
using testing::Close;
using testing::ErrorOfGet;
using testing::Pause;
using testing::ReadHead;
using testing::ScriptServer;
using testing::Send;
using testing::Step;

struct Outcome {
  std::string body;
  std::string error;  // what() of the error, "" on success
  std::vector<std::string> work;
  std::vector<std::string> requests;
};

Outcome Fetch(std::vector<std::vector<Step>> scripts, const std::string& target = "/x") {
  ScriptServer server(std::move(scripts));
  Outcome out;
  {
    TNetHTTP client;
    client.OnWorkBegin = [&](TNetComponent&, TWorkMode, int64_t size) {
      out.work.push_back("begin " + std::to_string(size));
    };
    client.OnWork = [&](TNetComponent&, TWorkMode, int64_t position) {
      out.work.push_back(std::to_string(position));
    };
    client.OnWorkEnd = [&](TNetComponent&, TWorkMode) { out.work.push_back("end"); };
    TNetMemoryStream body;
    try {
      client.Get(server.url(target), body);
    } catch (const std::exception& e) {
      out.error = e.what();
    }
    out.body = body.Data();
  }
  out.requests = server.requests();
  return out;
}

TEST(NetHttpTest, DrawRequestGoesOnTheWireExactly) {
  ScriptServer server({AnswerAndClose("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
  std::string address =
      TNetURI::EncodeUri("http://localhost:" + std::to_string(server.port()) +
                         "/dtools/down_all_232.php?data={\"dl\":[\"LOTTO\",\"2013-05-04\",6,5432],"
                         "\"multi_multi\":[\"multi_multi\",\"2013-05-04 21:40:00\",20,98765]}");
  {
    TNetHTTP client;
    TNetMemoryStream body;
    client.Get(address, body);
    EXPECT_EQ(body.Data(), "ok");
    EXPECT_EQ(client.ResponseCode(), 200);
  }
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /dtools/down_all_232.php?data={\"dl\":%5B\"LOTTO\",\"2013-05-04\",6,5432%5D,"
            "\"multi_multi\":%5B\"multi_multi\",\"2013-05-04%2021:40:00\",20,98765%5D} HTTP/1.1\r\n"
            "Host: localhost:" +
                std::to_string(server.port()) +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Net Library)\r\n"
                "\r\n");
}

TEST(NetHttpTest, Answers) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    std::string body;
    std::string error;
    std::vector<std::string> work;
    bool timing_free = true;  // false: the work events depend on arrival times
  };
  const std::string long_header = "X-Long: " + std::string(16384 - 8, 'v');
  const Case cases[] = {
      {"length 0", AnswerAndClose("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), "", "", {}},
      // Bytes that came with the head are one block.
      {"until close",
       AnswerAndClose("HTTP/1.1 200 OK\r\n\r\nabc"),
       "abc",
       "",
       {"begin 0", "3", "end"}},
      {"until close, late bytes",
       {ReadHead(), Send("HTTP/1.1 200 OK\r\n\r\n"), Pause(30), Send("abc"), Close()},
       "abc",
       "",
       {"begin 0", "end"},
       false},
      // The server keeps the connection: a wrong length would hang here.
      {"length without blank",
       {ReadHead(), Send("HTTP/1.1 200 OK\r\nContent-Length:42\r\n\r\n" + std::string(42, 'b'))},
       std::string(42, 'b'),
       "",
       {"begin 42", "42", "end"}},
      {"first length wins",
       {ReadHead(), Send("HTTP/1.1 200 OK\r\ncontent-length: 3\r\nContent-Length: 9\r\n\r\nabc")},
       "abc",
       "",
       {"begin 3", "3", "end"}},
      {"204 reads no body", {ReadHead(), Send("HTTP/1.1 204 No Content\r\n\r\n")}, "", "", {}},
      {"299 is success",
       AnswerAndClose("HTTP/1.1 299 Whatever\r\n\r\nz"),
       "z",
       "",
       {"begin 0", "1", "end"}},
      {"chunked 5 + 3",
       {ReadHead(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"),
        Pause(50), Send("3; ext=1\r\nabc\r\n0\r\n\r\n")},
       "helloabc",
       "",
       {"begin 5", "5", "end", "begin 3", "3", "end"}},
      {"split head and body",
       {ReadHead(), Send("HTTP/1.1 200 OK\r\nCont"), Pause(30), Send("ent-Length: 4\r\n\r\nab"),
        Pause(30), Send("cd")},
       "abcd",
       "",
       {"begin 4", "2", "4", "end"},
       false},
      {"short body then close",
       AnswerAndClose("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
       "abc",
       "",
       {"begin 10", "3", "end"}},
      {"302 with Location",
       AnswerAndClose("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 2\r\n\r\nno"),
       "",
       "HTTP/1.1 302 Found",
       {"begin 2", "2", "end"}},
      {"200 with Location",
       AnswerAndClose("HTTP/1.1 200 OK\r\nLocation: /y\r\n\r\n"),
       "",
       "HTTP/1.1 200 OK",
       {"begin 0", "end"}},
      {"404",
       AnswerAndClose("HTTP/1.0 404 Not Found\r\n\r\n"),
       "",
       "HTTP/1.0 404 Not Found",
       {"begin 0", "end"}},
      {"401 is not retried",
       AnswerAndClose("HTTP/1.1 401 Unauthorized\r\n\r\n"),
       "",
       "HTTP/1.1 401 Unauthorized",
       {"begin 0", "end"}},
      {"status without a number",
       AnswerAndClose("garbage\r\n\r\n"),
       "",
       "garbage",
       {"begin 0", "end"}},
      {"100 then 200",
       AnswerAndClose("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n!"),
       "!",
       "",
       {"begin 1", "1", "end"}},
      {"header line of 16384 bytes",
       AnswerAndClose("HTTP/1.1 200 OK\r\n" + long_header + "\nContent-Length: 1\r\n\r\n!"),
       "!",
       "",
       {"begin 1", "1", "end"}},
      {"header line of 16385 bytes",
       AnswerAndClose("HTTP/1.1 200 OK\r\n" + long_header + "v\nContent-Length: 1\r\n\r\n!"),
       "",
       "Max line length exceeded.",
       {}},
      {"close inside the headers",
       AnswerAndClose("HTTP/1.1 200 OK\r\nContent-Le"),
       "",
       "Undefined situation",
       {}},
      {"close before the answer", {ReadHead(), Close()}, "", "Connection Closed Gracefully.", {}},
      {"close inside a chunk",
       AnswerAndClose("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"),
       "hel",
       "Connection Closed Gracefully.",
       {"begin 5", "3", "end"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome out = Fetch({c.script});
    EXPECT_EQ(out.body, c.body);
    EXPECT_EQ(out.error, c.error);
    if (c.timing_free) {
      EXPECT_EQ(out.work, c.work);
    }
  }
}

TEST(NetHttpTest, ProtocolErrorCarriesCodeAndBody) {
  ScriptServer server(
      {AnswerAndClose("HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\nmissing")});
  TNetHTTP client;
  TNetMemoryStream body;
  auto e = ErrorOfGet<ENetHTTPProtocolException>(client, server.url("/x"), body);
  ASSERT_TRUE(e);
  EXPECT_STREQ(e->what(), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(e->ErrorCode(), 404);
  EXPECT_EQ(e->ErrorMessage(), "missing");
  EXPECT_EQ(body.Size(), 0);
}

TEST(NetHttpTest, FailingBodyIsReadForTwoSecondsAtMost) {
  // The server neither says how long the body is nor closes.
  ScriptServer server({{ReadHead(), Send("HTTP/1.1 500 Oops\r\n\r\npartial")}});
  TNetHTTP client;
  TNetMemoryStream body;
  auto e = ErrorOfGet<ENetHTTPProtocolException>(client, server.url("/x"), body);
  ASSERT_TRUE(e);
  EXPECT_STREQ(e->what(), "HTTP/1.1 500 Oops");
  EXPECT_EQ(e->ErrorMessage(), "partial");
  EXPECT_EQ(client.ReadTimeout, 0);
  EXPECT_FALSE(client.Connected());
}

TEST(NetHttpTest, DestinationKeepsWhatPrecedesItsPosition) {
  ScriptServer server({AnswerAndClose("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew")});
  TNetHTTP client;
  TNetMemoryStream body;
  body.Write("keep-old-tail");
  body.SetPosition(5);
  client.Get(server.url("/"), body);
  EXPECT_EQ(body.Data(), "keep-new");
}

TEST(NetHttpTest, KeepAliveReusesTheConnectionAndSendsCookies) {
  ScriptServer server({{ReadHead(),
                        Send("HTTP/1.1 200 OK\r\nSet-Cookie: sid=42; path=/\r\n"
                             "Content-Length: 1\r\n\r\na"),
                        ReadHead(), Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb")}});
  {
    TNetHTTP client;
    TNetMemoryStream first, second;
    client.Get(server.url("/1"), first);
    client.Get(server.url("/2"), second);
    EXPECT_EQ(first.Data() + second.Data(), "ab");
  }
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
  EXPECT_NE(requests[1].find("\r\nCookie: sid=42\r\n"), std::string::npos);
}

TEST(NetHttpTest, ConnectionCloseMeansANewConnection) {
  ScriptServer server({{ReadHead(), Send("HTTP/1.1 200 OK\r\nConnection: close\r\n"
                                         "Content-Length: 1\r\n\r\na")},
                       AnswerAndClose("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb")});
  TNetHTTP client;
  TNetMemoryStream first, second;
  client.Get(server.url("/1"), first);
  EXPECT_FALSE(client.Connected());
  client.Get(server.url("/2"), second);
  EXPECT_EQ(first.Data() + second.Data(), "ab");
}

TEST(NetHttpTest, FollowsRedirectsWhenAsked) {
  ScriptServer server({{ReadHead(),
                        Send("HTTP/1.1 301 Moved\r\nLocation: ../b/c?q=1\r\n"
                             "Content-Length: 4\r\n\r\ngone"),
                        ReadHead(), Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nhere")}});
  {
    TNetHTTP client;
    client.HandleRedirects = true;
    TNetMemoryStream body;
    client.Get(server.url("/a/x/doc"), body);
    EXPECT_EQ(body.Data(), "here");
  }
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].substr(0, requests[1].find('\r')), "GET /a/b/c?q=1 HTTP/1.1");
}

TEST(NetHttpTest, AddressErrors) {
  struct Case {
    const char* address;
    const char* message;
  } cases[] = {
      {"http://127.0.0.1:8x/", "'8x' is not a valid integer value"},
      {"ftp://127.0.0.1/", ""},
      {"/relative", ""},
      {"http://:81/", "Host field is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    TNetHTTP client;
    TNetMemoryStream body;
    try {
      client.Get(c.address, body);
      FAIL();
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  TNetHTTP client;
  TNetMemoryStream body;
  EXPECT_THROW(client.Get("ftp://127.0.0.1/", body), ENetUnknownProtocol);
}

TEST(NetHttpTest, RefusedConnection) {
  TNetHTTP client;
  TNetMemoryStream body;
  auto e = ErrorOfGet<ENetSocketError>(
      client, "http://127.0.0.1:" + std::to_string(testing::ClosedPort()) + "/", body);
  ASSERT_TRUE(e);
  EXPECT_STREQ(e->what(), "Socket Error # 10061\r\nConnection refused.");
}

}  // namespace
}  // namespace downsql::http
