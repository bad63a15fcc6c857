#include "http/net_exception.h"

#include <cstdint>

#include "platform/socket.h"

namespace downsql::http {

ENetSocketError::ENetSocketError(int last_error)
    : ENetException("Socket Error # " + std::to_string(last_error) + "\r\n" +
                    platform::SocketErrorText(last_error)),
      last_error_(last_error) {}

int StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
    if (value > INT64_C(2147483648)) break;
  }
  if (negative) value = -value;
  if (digits == 0 || i != text.size() || value > INT32_MAX || value < INT32_MIN)
    throw EConvertError("'" + text + "' is not a valid integer value");
  return static_cast<int>(value);
}

}  // namespace downsql::http
