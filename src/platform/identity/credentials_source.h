#pragma once
// Anything that yields cloud credentials for signing. The federated
// credentials provider is the real one; tests put a fake in its place.

#include "platform/dispatch/task.h"
#include "platform/sigv4/credentials.h"

namespace corvenza::identity {

class CredentialsSource {
 public:
  virtual ~CredentialsSource() = default;
  /// Credentials valid for a while yet. The task may finish on any thread.
  virtual dispatch::Task<sigv4::Credentials> getCredentials() = 0;
  /// The service no longer knows @p refused (it restarted, or revoked them):
  /// when they are what is cached, the next getCredentials fetches anew.
  /// Sources that cannot fetch anew ignore it. Thread-safe.
  virtual void forget(const sigv4::Credentials& /*refused*/) {}
};

}  // namespace corvenza::identity
