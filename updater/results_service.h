// Where the results service lives.
//
// The library has no configuration of its own, so DoUpdate always asks
// kResultsServiceHost; the command-line program can point the same dialog at
// another host with --service. The default is a service on the same machine,
// port 80: a results service is a separate program that the user runs or
// points at.
#pragma once

#include <string>
#include <string_view>

namespace downsql::updater {

// "host" or "host:port", as it appears in the request address.
inline constexpr std::string_view kResultsServiceHost = "localhost";

// The service's web address shown while connecting: "http://" + host.
inline std::string ServiceWebAddress(std::string_view host) {
  std::string address = "http://";
  address += host;
  return address;
}

}  // namespace downsql::updater
