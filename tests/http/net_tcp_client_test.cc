#include "http/net_tcp_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "http/net_exception.h"
#include "http/net_io_handler_memory.h"
#include "tests/http/script_server.h"

namespace downsql::http {
namespace {

using testing::AnswerAndClose;
using testing::ScriptServer;

// Connects a client to a memory handler that replays bytes in pieces.
struct MemoryClient {
  explicit MemoryClient(std::string bytes, size_t segment = 0)
      : handler(std::move(bytes), segment) {
    client.SetIOHandler(&handler);
    client.Connect();
  }
  TNetIOHandlerMemory handler;
  TNetTCPClient client;
};

TEST(NetTcpConnectionTest, LinesLoseTheirTerminator) {
  MemoryClient m("a\r\nb\nc\r\r\n\r\nlast", 2);
  EXPECT_EQ(m.client.ReadLn(), "a");
  EXPECT_EQ(m.client.ReadLn(), "b");
  EXPECT_EQ(m.client.ReadLn(), "c\r");
  EXPECT_EQ(m.client.ReadLn(), "");
  // The peer closes before the last terminator.
  EXPECT_THROW(m.client.ReadLn(), ENetConnClosedGracefully);
}

TEST(NetTcpConnectionTest, MaxLineLength) {
  struct Case {
    size_t length;
    bool terminated;
    bool accepted;
  } cases[] = {{16384, true, true}, {16385, true, false}, {16385, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string line(c.length, 'x');
    MemoryClient m(line + (c.terminated ? "\n" : "") + std::string(100, 'y'), 1000);
    if (c.accepted) {
      EXPECT_EQ(m.client.ReadLn(), line);
    } else {
      try {
        m.client.ReadLn();
        FAIL();
      } catch (const ENetReadLnMaxLineLengthExceeded& e) {
        EXPECT_STREQ(e.what(), "Max line length exceeded.");
      }
    }
  }
  MemoryClient split(std::string(10, 'z') + "\n", 3);
  split.client.MaxLineAction = maSplit;
  EXPECT_EQ(split.client.ReadLn("\n", -1, 4), "zzzz");
  EXPECT_TRUE(split.client.ReadLnSplit());
}

TEST(NetTcpConnectionTest, BufferedBytesOutliveThePeersClose) {
  MemoryClient m("line\nabc");
  EXPECT_EQ(m.client.ReadLn(), "line");
  // An exact read that needs more than will ever come fails at once...
  EXPECT_THROW(m.client.ReadBuffer(4), ENetConnClosedGracefully);
  // ... but what arrived is still there, and the close error comes once it
  // has been consumed.
  EXPECT_EQ(m.client.ReadBuffer(3), "abc");
  EXPECT_THROW(m.client.ReadFromStack(), ENetConnClosedGracefully);
  EXPECT_FALSE(m.client.Connected());
}

TEST(NetTcpConnectionTest, ReadStreamReportsBlocks) {
  MemoryClient m("0123456789", 4);
  m.client.RecvBufferSize = 4;
  std::vector<int64_t> work;
  m.client.OnWork = [&](TNetComponent&, TWorkMode, int64_t position) { work.push_back(position); };
  TNetMemoryStream stream;
  stream.Write("??");
  m.client.ReadStream(stream, -1, true);
  EXPECT_EQ(stream.Data(), "??0123456789");
  // The last partial block is stored without a report.
  EXPECT_EQ(work, (std::vector<int64_t>{4, 8}));
}

TEST(NetTcpClientTest, ConnectsToLocalhostByName) {
  ScriptServer server({AnswerAndClose("hello\r\n")});
  TNetTCPClient client;
  std::vector<std::string> status;
  client.OnStatus = [&](TNetComponent&, const std::string& text) { status.push_back(text); };
  client.Host = "LocalHost";
  client.Port = server.port();
  client.Connect();
  EXPECT_THROW(client.Connect(), ENetAlreadyConnected);
  client.WriteLn("GET / HTTP/1.1\r\n");
  EXPECT_EQ(client.ReadLn(), "hello");
  EXPECT_THROW(client.ReadLn(), ENetConnClosedGracefully);
  EXPECT_EQ(status,
            (std::vector<std::string>{"Resolving hostname LocalHost.", "Connecting to 127.0.0.1.",
                                      "Connected.", "Disconnected."}));
}

TEST(NetTcpClientTest, ReadTimeouts) {
  ScriptServer server({{testing::Pause(300), testing::Send("late\n")}});
  TNetTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = server.port();
  client.Connect();
  // An explicit limit gives an empty line and the timed-out flag...
  EXPECT_EQ(client.ReadLn("\n", 20), "");
  EXPECT_TRUE(client.ReadLnTimedOut());
  // ... the connection's ReadTimeout raises.
  client.ReadTimeout = 20;
  try {
    client.ReadLn();
    FAIL();
  } catch (const ENetReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read Timeout");
  }
  client.ReadTimeout = 0;
  EXPECT_EQ(client.ReadLn(), "late");
}

TEST(NetTcpClientTest, SocketErrors) {
  struct Case {
    std::string host;
    int port;
    int number;
    const char* message;
  } cases[] = {
      {"127.0.0.1", testing::ClosedPort(), 10061, "Socket Error # 10061\r\nConnection refused."},
      {"no-such-host.invalid", 80, 11001, "Socket Error # 11001\r\nHost not found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    TNetTCPClient client;
    client.Host = c.host;
    client.Port = c.port;
    try {
      client.Connect();
      FAIL();
    } catch (const ENetSocketError& e) {
      EXPECT_EQ(e.LastError(), c.number);
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_FALSE(client.Connected());
  }
}

TEST(NetTcpClientTest, ConnectTimeout) {
  // A listener that never accepts: once its queue is full, connects wait.
  platform::Socket listener;
  uint32_t address = 0;
  uint16_t port = 0;
  ASSERT_EQ(listener.Open(), 0);
  ASSERT_EQ(listener.Bind(0x7F000001, 0), 0);
  ASSERT_EQ(listener.Listen(0), 0);
  ASSERT_EQ(listener.LocalName(&address, &port), 0);
  std::vector<std::unique_ptr<TNetTCPClient>> clients;
  bool timed_out = false;
  for (int i = 0; i < 8 && !timed_out; ++i) {
    auto client = std::make_unique<TNetTCPClient>();
    client->Host = "127.0.0.1";
    client->Port = port;
    try {
      client->Connect(100);
    } catch (const ENetConnectTimeout& e) {
      EXPECT_STREQ(e.what(), "Connect timed out.");
      EXPECT_FALSE(client->Connected());
      timed_out = true;
    }
    clients.push_back(std::move(client));
  }
  EXPECT_TRUE(timed_out);
}

TEST(NetTcpClientTest, ErrorTexts) {
  EXPECT_STREQ(ENetSocketError(10035).what(), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_STREQ(ENetSocketError(10066).what(), "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_STREQ(ENetSocketError(12345).what(), "Socket Error # 12345\r\n");
}

}  // namespace
}  // namespace downsql::http
