// TNetTCPClient: the connecting side of a TNetTCPConnection.
#pragma once

#include "http/net_tcp_connection.h"

namespace downsql::http {

class TNetTCPClient : public TNetTCPConnection {
 public:
  // Connects to Host:Port. Without an I/O handler a socket handler is made
  // and owned until the disconnect. timeout_ms 0 or -1 waits for the system;
  // a positive limit raises ENetConnectTimeout "Connect timed out.". Raises
  // ENetAlreadyConnected "Already connected." on an open connection and the
  // socket errors of the connect; disconnects before passing any error on.
  // Status texts "Resolving hostname %s.", "Connecting to %s.", "Connected.".
  void Connect(int timeout_ms = 0);
};

}  // namespace downsql::http
