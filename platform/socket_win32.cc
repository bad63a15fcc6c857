// Winsock 2.2 behind platform/socket.h. The library is started once per
// process on first use; the numbers Winsock reports are already the ones the
// client shows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <mutex>
#include <utility>

#include "platform/socket.h"

namespace downsql::platform {
namespace {

SOCKET Sock(intptr_t handle) { return static_cast<SOCKET>(handle); }

int LastNumber() { return WSAGetLastError(); }

uint64_t TickMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  sa.sin_port = htons(port);
  return sa;
}

// select() with a millisecond limit (< 0: none) on one socket.
int WaitFor(SOCKET s, bool write, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set except;
  FD_ZERO(&except);
  FD_SET(s, &except);
  timeval tv{};
  timeval* limit = nullptr;
  if (timeout_ms >= 0) {
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    limit = &tv;
  }
  int rc = select(0, write ? nullptr : &set, write ? &set : nullptr, &except, limit);
  if (rc == SOCKET_ERROR) return -LastNumber();
  return rc > 0 ? 1 : 0;
}

}  // namespace

int StartSockets() {
  static int result = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

int ResolveHostIPv4(const std::string& name, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) return rc == EAI_NONAME ? kWsaHostNotFound : rc;
  int result = kWsaHostNotFound;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      *address = ntohl(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
      result = 0;
      break;
    }
  }
  freeaddrinfo(list);
  return result;
}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

int Socket::Open() {
  Close();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return LastNumber();
  handle_ = static_cast<intptr_t>(s);
  return 0;
}

bool Socket::IsOpen() const { return handle_ != -1; }

void Socket::Close() {
  if (handle_ != -1) {
    closesocket(Sock(handle_));
    handle_ = -1;
  }
}

int Socket::Bind(uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  if (bind(Sock(handle_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return LastNumber();
  return 0;
}

int Socket::Connect(uint32_t address, uint16_t port, int timeout_ms) {
  sockaddr_in sa = MakeAddress(address, port);
  SOCKET s = Sock(handle_);
  if (timeout_ms <= 0) {
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return LastNumber();
    return 0;
  }
  u_long on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return LastNumber();
  int result = 0;
  if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    result = LastNumber();
    if (result == WSAEWOULDBLOCK) {
      int rc = WaitFor(s, true, timeout_ms);
      if (rc < 0) {
        result = -rc;
      } else if (rc == 0) {
        result = kWsaETimedOut;
      } else {
        int err = 0;
        int len = sizeof err;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
        result = err;
      }
    }
  }
  u_long off = 0;
  if (ioctlsocket(s, FIONBIO, &off) != 0 && result == 0) result = LastNumber();
  return result;
}

int Socket::SetNoDelay(bool no_delay) {
  BOOL on = no_delay ? TRUE : FALSE;
  if (setsockopt(Sock(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof on) != 0)
    return LastNumber();
  return 0;
}

int Socket::Listen(int backlog) {
  if (listen(Sock(handle_), backlog) != 0) return LastNumber();
  return 0;
}

int Socket::Accept(Socket* peer) {
  SOCKET s = accept(Sock(handle_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return LastNumber();
  peer->Close();
  peer->handle_ = static_cast<intptr_t>(s);
  return 0;
}

int Socket::LocalName(uint32_t* address, uint16_t* port) const {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (getsockname(Sock(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return LastNumber();
  *address = ntohl(sa.sin_addr.s_addr);
  *port = ntohs(sa.sin_port);
  return 0;
}

int Socket::PeerName(uint32_t* address, uint16_t* port) const {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (getpeername(Sock(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return LastNumber();
  *address = ntohl(sa.sin_addr.s_addr);
  *port = ntohs(sa.sin_port);
  return 0;
}

int Socket::ShutdownSend() {
  if (shutdown(Sock(handle_), SD_SEND) != 0) return LastNumber();
  return 0;
}

int Socket::WaitReadable(int timeout_ms) {
  if (handle_ == -1) return WSAENOTSOCK;
  uint64_t deadline = timeout_ms < 0 ? 0 : TickMs() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    int wait = -1;
    if (timeout_ms >= 0) {
      uint64_t now = TickMs();
      wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
    int rc = WaitFor(Sock(handle_), false, wait);
    if (rc == -WSAEINTR) continue;
    if (rc < 0) return -rc;
    return rc;
  }
}

SocketIo Socket::Receive(void* data, size_t n) {
  int len = n > 0x7fffffff ? 0x7fffffff : static_cast<int>(n);
  int rc = recv(Sock(handle_), static_cast<char*>(data), len, 0);
  if (rc == SOCKET_ERROR) return {0, LastNumber()};
  return {static_cast<size_t>(rc), 0};
}

SocketIo Socket::Send(const void* data, size_t n) {
  int len = n > 0x7fffffff ? 0x7fffffff : static_cast<int>(n);
  int rc = send(Sock(handle_), static_cast<const char*>(data), len, 0);
  if (rc == SOCKET_ERROR) return {0, LastNumber()};
  return {static_cast<size_t>(rc), 0};
}

}  // namespace downsql::platform
