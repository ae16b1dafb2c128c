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
};

}  // namespace corvenza::identity
