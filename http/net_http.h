// TNetHTTP: the HTTP client as applications use it.
#pragma once

#include "http/net_custom_http.h"

namespace downsql::http {

class TNetHTTP : public TNetCustomHTTP {};

}  // namespace downsql::http
