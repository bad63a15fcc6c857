// The client against real servers, each started on a free loopback port by
// the test and stopped by it: Python's http.server (HTTP/1.0, a body with
// a length and one that ends at the close) and nginx (HTTP/1.1 keep-alive,
// lengths, an error page, a redirect). One answer file fetched through
// each arrives with identical bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "http/net_exception.h"
#include "http/net_http.h"
#include "tests/http/http_test_util.h"
#include "tests/http/peer_process.h"
#include "tests/platform/temp_dir.h"

namespace downsql::http {
namespace {

using testing::ErrorOfGet;
using testing::FreePort;
using testing::PeerProcess;

// SQL lines with CR LF and Windows-1250 letters, several receive buffers
// long.
std::string AnswerFile() {
  std::string text;
  for (int id = 1; text.size() < 300000; ++id)
    text += "INSERT INTO dl (id,date,n1) VALUES (" + std::to_string(id) +
            ",'2013-05-04',7); -- \xB9\xEA\xBF\xB3\r\n";
  return text;
}

std::string NginxConfig(const std::string& dir, uint16_t port) {
  return "daemon off;\n"
         "master_process off;\n"
         "pid " +
         dir +
         "/nginx.pid;\n"
         "error_log " +
         dir +
         "/nginx.log;\n"
         "events { worker_connections 16; }\n"
         "http {\n"
         "  access_log off;\n"
         "  default_type text/plain;\n"
         "  client_body_temp_path " +
         dir +
         "/tmp;\n"
         "  proxy_temp_path " +
         dir +
         "/tmp;\n"
         "  fastcgi_temp_path " +
         dir +
         "/tmp;\n"
         "  uwsgi_temp_path " +
         dir +
         "/tmp;\n"
         "  scgi_temp_path " +
         dir +
         "/tmp;\n"
         "  server {\n"
         "    listen 127.0.0.1:" +
         std::to_string(port) +
         ";\n"
         "    root " +
         dir +
         "/www;\n"
         "    location = /moved { return 301 /answer.sql; }\n"
         "  }\n"
         "}\n";
}

class RealPeersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new platform::TempDir();
    const std::string dir = dir_->path();
    dir_->AddDirectory("www");
    dir_->AddDirectory("tmp");
    std::ofstream(dir + "/www/answer.sql", std::ios::binary) << AnswerFile();
    python_port_ = FreePort();
    python_ = new PeerProcess(
        {DOWNSQL_PYTHON3, DOWNSQL_PYTHON_PEER, std::to_string(python_port_), dir + "/www"},
        python_port_, dir + "/python.log");
    nginx_port_ = FreePort();
    std::ofstream(dir + "/nginx.conf") << NginxConfig(dir, nginx_port_);
    nginx_ = new PeerProcess(
        {DOWNSQL_NGINX, "-p", dir, "-c", dir + "/nginx.conf", "-e", dir + "/nginx.log"},
        nginx_port_, dir + "/nginx-start.log");
  }
  static void TearDownTestSuite() {
    delete nginx_;
    delete python_;
    delete dir_;
  }

  static std::string Url(uint16_t port, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }

  static platform::TempDir* dir_;
  static PeerProcess* python_;
  static PeerProcess* nginx_;
  static uint16_t python_port_, nginx_port_;
};

platform::TempDir* RealPeersTest::dir_ = nullptr;
PeerProcess* RealPeersTest::python_ = nullptr;
PeerProcess* RealPeersTest::nginx_ = nullptr;
uint16_t RealPeersTest::python_port_ = 0;
uint16_t RealPeersTest::nginx_port_ = 0;

TEST_F(RealPeersTest, TheSameBytesThroughEveryPeer) {
  struct Case {
    const char* name;
    std::string url;
    std::string version;
    bool has_length;
  } cases[] = {
      {"python, length", Url(python_port_, "/answer.sql?data=1"), "1.0", true},
      {"python, until close", Url(python_port_, "/close/answer.sql?data=1"), "1.0", false},
      {"nginx", Url(nginx_port_, "/answer.sql?data=1"), "1.1", true},
  };
  const std::string expected = AnswerFile();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TNetHTTP client;
    TNetMemoryStream body;
    client.Get(c.url, body);
    EXPECT_EQ(client.ResponseCode(), 200);
    EXPECT_EQ(client.Response().ResponseVersion, c.version);
    EXPECT_EQ(client.Response().HasContentLength, c.has_length);
    EXPECT_TRUE(body.Data() == expected) << body.Size() << " bytes";
  }
}

TEST_F(RealPeersTest, NginxKeepsTheConnectionForTheNextRequest) {
  TNetHTTP client;
  int connects = 0;
  client.OnStatus = [&](TNetComponent&, const std::string& text) {
    if (text == "Connected.") ++connects;
  };
  TNetMemoryStream first, second;
  client.Get(Url(nginx_port_, "/answer.sql"), first);
  EXPECT_TRUE(client.Connected());
  client.Get(Url(nginx_port_, "/answer.sql"), second);
  EXPECT_EQ(connects, 1);
  EXPECT_TRUE(first.Data() == AnswerFile());
  EXPECT_TRUE(second.Data() == first.Data());
}

TEST_F(RealPeersTest, NginxErrorPageAndRedirect) {
  TNetHTTP client;
  TNetMemoryStream body;
  auto e = ErrorOfGet<ENetHTTPProtocolException>(client, Url(nginx_port_, "/missing.sql"), body);
  ASSERT_TRUE(e);
  EXPECT_STREQ(e->what(), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(e->ErrorCode(), 404);
  EXPECT_NE(e->ErrorMessage().find("<title>404 Not Found</title>"), std::string::npos);
  EXPECT_THROW(
      {
        try {
          client.Get(Url(nginx_port_, "/moved"), body);
        } catch (const ENetHTTPProtocolException& e) {
          EXPECT_STREQ(e.what(), "HTTP/1.1 301 Moved Permanently");
          throw;
        }
      },
      ENetHTTPProtocolException);
  client.HandleRedirects = true;
  client.Get(Url(nginx_port_, "/moved"), body);
  EXPECT_TRUE(body.Data() == AnswerFile());
}

}  // namespace
}  // namespace downsql::http
