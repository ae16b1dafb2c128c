#pragma once
// The transport that every APIConnector sends through: the shared libcurl
// transport unless a test has put another in its place.

#include <memory>

#include "platform/http/http_transport.h"

namespace corvenza::support {

/// Replaces the transport for later requests; nullptr restores the shared one. Thread-safe.
void setAPIConnectorTransport(std::shared_ptr<http::HttpTransport> transport);
std::shared_ptr<http::HttpTransport> apiConnectorTransport();

}  // namespace corvenza::support
