#pragma once
// Which certificate authorities a TLS connection trusts: the file a client
// was given, else the one AWS_CA_BUNDLE names (the usual way to trust a
// private CA or a TLS-inspecting gateway), else the system's store.

#include <filesystem>
#include <memory>

#include "platform/http/http_transport.h"

namespace corvenza::http {

/// @p chosen when it is set, else AWS_CA_BUNDLE's file, else empty (the
/// system store).
std::filesystem::path trustedAuthorities(const std::filesystem::path& chosen = {});

/// @p inner, with @p caFile trusted by every request that names no file of its own.
std::shared_ptr<HttpTransport> trusting(std::shared_ptr<HttpTransport> inner,
                                        std::filesystem::path caFile);

}  // namespace corvenza::http
