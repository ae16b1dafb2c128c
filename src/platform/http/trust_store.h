#pragma once
// Which certificate authorities a TLS connection trusts: the file a client
// was given, else the one AWS_CA_BUNDLE names (the usual way to trust a
// private CA or a TLS-inspecting gateway), else the system's store.

#include <filesystem>

namespace corvenza::http {

/// @p chosen when it is set, else the process's setting, else AWS_CA_BUNDLE's
/// file, else empty (the system store).
std::filesystem::path trustedAuthorities(const std::filesystem::path& chosen = {});

}  // namespace corvenza::http
