// IPv4 stream sockets.
//
// The HTTP client's TCP layer talks to the network only through this file.
// Failures are reported as Windows socket error numbers (10061 for a
// refused connection, 11001 for an unknown host, ...) on every system: the
// POSIX implementation maps errno and resolver failures onto them, so the
// messages the client shows are the same everywhere. Functions report
// errors through their result and raise nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace downsql::platform {

// Windows socket error numbers the client distinguishes.
enum SocketErrorNumber : int {
  kWsaEInterrupted = 10004,
  kWsaEInvalidArgument = 10022,
  kWsaEWouldBlock = 10035,
  kWsaEAddressInUse = 10048,
  kWsaEAddressNotAvailable = 10049,
  kWsaEConnectionAborted = 10053,
  kWsaEConnectionReset = 10054,
  kWsaENotConnected = 10057,
  kWsaEShutdown = 10058,
  kWsaETimedOut = 10060,
  kWsaEConnectionRefused = 10061,
  kWsaHostNotFound = 11001,
  kWsaTryAgain = 11002,
  kWsaNoRecovery = 11003,
  kWsaNoData = 11004,
};

// Starts the system's socket library once per process (Winsock 2.2 on
// Windows; nothing to do on POSIX). Returns 0 or a socket error number; later
// calls return the first call's result.
int StartSockets();

// The fixed English text of a socket error number ("Connection refused."),
// or "" for a number without one.
std::string SocketErrorText(int number);

// Looks up the first IPv4 address of a host name through the system's name
// service. Returns 0 and sets *address (host byte order), or a socket error
// number (11001 when the name is unknown).
int ResolveHostIPv4(const std::string& name, uint32_t* address);

// Result of a transfer: the byte count, or error != 0.
struct SocketIo {
  size_t count = 0;
  int error = 0;
};

// One IPv4 TCP socket. Move-only; closing is idempotent and the destructor
// closes.
class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Allocates a stream socket; 0 or an error number. Closes any socket held.
  int Open();
  bool IsOpen() const;
  void Close();

  // Binds to address:port (host byte order; 0 = any address / any port).
  int Bind(uint32_t address, uint16_t port);
  // Connects. timeout_ms <= 0 blocks until the system answers; a positive
  // limit returns kWsaETimedOut when it passes (the socket is then unusable).
  int Connect(uint32_t address, uint16_t port, int timeout_ms = 0);
  // Turns the small-packet delay (Nagle) on or off.
  int SetNoDelay(bool no_delay);

  // Listening side, used by servers in tests.
  int Listen(int backlog);
  // Accepts one connection into *peer; 0 or an error number.
  int Accept(Socket* peer);
  // Local address and port after Bind/Connect; 0 or an error number.
  int LocalName(uint32_t* address, uint16_t* port) const;
  // Peer address and port of a connected socket; 0 or an error number.
  int PeerName(uint32_t* address, uint16_t* port) const;
  // Ends the sending direction (the peer reads end of stream).
  int ShutdownSend();

  // Waits until the socket is readable (data, end of stream or an error
  // pending). timeout_ms < 0 waits without limit. Returns 1 when readable,
  // 0 when the time passed, or an error number.
  int WaitReadable(int timeout_ms);
  // Receives up to n bytes; count 0 means the peer closed.
  SocketIo Receive(void* data, size_t n);
  // Sends up to n bytes (one system call); never raises SIGPIPE.
  SocketIo Send(const void* data, size_t n);

 private:
  intptr_t handle_ = -1;
};

}  // namespace downsql::platform
