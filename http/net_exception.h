// The HTTP client's error classes.
//
// Every failure of the client is an ENetException (or, for a port text that
// is not a number, the runtime's EConvertError). The messages are fixed texts
// that the user sees in the error box.
#pragma once

#include <stdexcept>
#include <string>

namespace downsql::http {

class ENetException : public std::runtime_error {
 public:
  explicit ENetException(const std::string& message) : std::runtime_error(message) {}
};

#define DOWNSQL_NET_ERROR(Name, Base)                            \
  class Name : public Base {                                     \
   public:                                                       \
    explicit Name(const std::string& message) : Base(message) {} \
  }

DOWNSQL_NET_ERROR(ENetURIException, ENetException);
DOWNSQL_NET_ERROR(ENetUnknownProtocol, ENetException);
DOWNSQL_NET_ERROR(ENetConnClosedGracefully, ENetException);
DOWNSQL_NET_ERROR(ENetReadLnMaxLineLengthExceeded, ENetException);
DOWNSQL_NET_ERROR(ENetReadTimeout, ENetException);
DOWNSQL_NET_ERROR(ENetStackInitializationFailed, ENetException);
DOWNSQL_NET_ERROR(ENetAlreadyConnected, ENetException);
DOWNSQL_NET_ERROR(ENetNotConnected, ENetException);
DOWNSQL_NET_ERROR(ENetInvalidSocket, ENetException);
DOWNSQL_NET_ERROR(ENetCouldNotBindSocket, ENetException);
DOWNSQL_NET_ERROR(ENetInvalidPortRange, ENetException);
DOWNSQL_NET_ERROR(ENetCanNotBindPortInRange, ENetException);
DOWNSQL_NET_ERROR(ENetConnectTimeout, ENetException);

#undef DOWNSQL_NET_ERROR

// A failed socket call: the Windows socket error number and the message
// "Socket Error # <number>\r\n<text>".
class ENetSocketError : public ENetException {
 public:
  explicit ENetSocketError(int last_error);
  int LastError() const { return last_error_; }

 private:
  int last_error_;
};

// A non-success answer: ErrorCode is the status code, the message the status
// line, ErrorMessage the answer's body. A head too long to accept raises it
// too, with a message that says so and no body.
class ENetHTTPProtocolException : public ENetException {
 public:
  ENetHTTPProtocolException(int error_code, const std::string& status_line,
                            std::string error_message)
      : ENetException(status_line),
        error_code_(error_code),
        error_message_(std::move(error_message)) {}
  int ErrorCode() const { return error_code_; }
  const std::string& ErrorMessage() const { return error_message_; }

 private:
  int error_code_;
  std::string error_message_;
};

// The runtime's conversion error: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// Decimal text to a 32-bit integer, as the runtime converts it: optional
// blanks before, an optional sign, decimal digits, nothing else. Raises
// EConvertError otherwise.
int StrToInt(const std::string& text);

}  // namespace downsql::http
