// Helpers shared by the client's tests.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "http/net_http.h"

namespace downsql::http::testing {

// The error of class E (copied) that client raises getting url into body;
// nullopt, with a failure recorded in the test, when the GET succeeds.
// Errors of other classes pass through.
template <typename E>
std::optional<E> ErrorOfGet(TNetHTTP& client, const std::string& url, TNetMemoryStream& body) {
  try {
    client.Get(url, body);
  } catch (const E& e) {
    return e;
  }
  ADD_FAILURE() << "getting " << url << " raised no error";
  return std::nullopt;
}

}  // namespace downsql::http::testing
