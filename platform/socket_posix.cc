// POSIX sockets behind platform/socket.h. errno values and resolver
// failures are turned into the Windows socket error numbers in one place
// (WsaNumber, ResolverNumber).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

#include "platform/socket.h"

namespace downsql::platform {
namespace {

int WsaNumber(int err) {
  switch (err) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
#if EOPNOTSUPP != ENOTSUP
    case ENOTSUP:
#endif
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    // A send to a peer that has gone away: Windows reports a reset.
    case EPIPE:
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return 10022;
  }
}

int LastNumber() { return WsaNumber(errno); }

int ResolverNumber(int eai) {
  switch (eai) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return kWsaHostNotFound;
    case EAI_AGAIN:
      return kWsaTryAgain;
    case EAI_FAIL:
      return kWsaNoRecovery;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return LastNumber();
    default:
      return kWsaNoRecovery;
  }
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  sa.sin_port = htons(port);
  return sa;
}

int Fd(intptr_t handle) { return static_cast<int>(handle); }

uint64_t TickMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

int StartSockets() { return 0; }

int ResolveHostIPv4(const std::string& name, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) return ResolverNumber(rc);
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
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return LastNumber();
  handle_ = fd;
  return 0;
}

bool Socket::IsOpen() const { return handle_ >= 0; }

void Socket::Close() {
  if (handle_ >= 0) {
    ::close(Fd(handle_));
    handle_ = -1;
  }
}

int Socket::Bind(uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  if (bind(Fd(handle_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return LastNumber();
  return 0;
}

int Socket::Connect(uint32_t address, uint16_t port, int timeout_ms) {
  sockaddr_in sa = MakeAddress(address, port);
  int fd = Fd(handle_);
  if (timeout_ms <= 0) {
    int rc;
    do {
      rc = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : LastNumber();
  }
  // A limited connect: start it without blocking, wait for the socket to
  // become writable, then return to blocking mode for the reads and writes.
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return LastNumber();
  int result = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EINPROGRESS) {
      result = LastNumber();
    } else {
      uint64_t deadline = TickMs() + static_cast<uint64_t>(timeout_ms);
      for (;;) {
        uint64_t now = TickMs();
        if (now >= deadline) {
          result = kWsaETimedOut;
          break;
        }
        pollfd p{fd, POLLOUT, 0};
        int rc = poll(&p, 1, static_cast<int>(deadline - now));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) {
          result = LastNumber();
          break;
        }
        if (rc == 0) continue;
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        result = err == 0 ? 0 : WsaNumber(err);
        break;
      }
    }
  }
  if (fcntl(fd, F_SETFL, flags) != 0 && result == 0) result = LastNumber();
  return result;
}

int Socket::SetNoDelay(bool no_delay) {
  int on = no_delay ? 1 : 0;
  if (setsockopt(Fd(handle_), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return LastNumber();
  return 0;
}

int Socket::Listen(int backlog) {
  int on = 1;
  setsockopt(Fd(handle_), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (listen(Fd(handle_), backlog) != 0) return LastNumber();
  return 0;
}

int Socket::Accept(Socket* peer) {
  int fd;
  do {
    fd = accept4(Fd(handle_), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return LastNumber();
  peer->Close();
  peer->handle_ = fd;
  return 0;
}

int Socket::LocalName(uint32_t* address, uint16_t* port) const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(Fd(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return LastNumber();
  *address = ntohl(sa.sin_addr.s_addr);
  *port = ntohs(sa.sin_port);
  return 0;
}

int Socket::PeerName(uint32_t* address, uint16_t* port) const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getpeername(Fd(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return LastNumber();
  *address = ntohl(sa.sin_addr.s_addr);
  *port = ntohs(sa.sin_port);
  return 0;
}

int Socket::ShutdownSend() {
  if (shutdown(Fd(handle_), SHUT_WR) != 0) return LastNumber();
  return 0;
}

int Socket::WaitReadable(int timeout_ms) {
  if (handle_ < 0) return 10038;
  uint64_t deadline = timeout_ms < 0 ? 0 : TickMs() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    int wait = -1;
    if (timeout_ms >= 0) {
      uint64_t now = TickMs();
      wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
    pollfd p{Fd(handle_), POLLIN, 0};
    int rc = poll(&p, 1, wait);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return LastNumber();
    return rc > 0 ? 1 : 0;
  }
}

SocketIo Socket::Receive(void* data, size_t n) {
  for (;;) {
    ssize_t rc = recv(Fd(handle_), data, n, 0);
    if (rc >= 0) return {static_cast<size_t>(rc), 0};
    if (errno != EINTR) return {0, LastNumber()};
  }
}

SocketIo Socket::Send(const void* data, size_t n) {
  for (;;) {
    ssize_t rc = send(Fd(handle_), data, n, MSG_NOSIGNAL);
    if (rc >= 0) return {static_cast<size_t>(rc), 0};
    if (errno != EINTR) return {0, LastNumber()};
  }
}

}  // namespace downsql::platform
