#pragma once
// Credentials that never change or expire, in place of the federated
// provider, for tests that sign requests themselves.

#include <utility>

#include "platform/identity/credentials_source.h"

namespace corvenza::test {

class FixedCredentials final : public identity::CredentialsSource {
 public:
  explicit FixedCredentials(sigv4::Credentials credentials)
      : credentials_(std::move(credentials)) {}
  dispatch::Task<sigv4::Credentials> getCredentials() override {
    return dispatch::Task<sigv4::Credentials>::completed(credentials_);
  }

 private:
  sigv4::Credentials credentials_;
};

}  // namespace corvenza::test
