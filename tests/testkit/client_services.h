#pragma once
// Tests put fakes into a client's services: a copy is changed, then
// replaces them, as start-up would have built them.

#include <utility>

#include "requests/client_state.h"

namespace corvenza::test {

template <typename Change>
void changeServices(requests::ClientState& state, Change change) {
  auto services = *state.services();
  change(services);
  state.setServices(std::move(services));
}

/// Makes @p gateway @p state's GraphQL client.
inline void useGateway(requests::ClientState& state,
                       std::shared_ptr<requests::GraphQLGateway> gateway) {
  changeServices(state, [&](requests::ClientServices& s) { s.appSyncClient = std::move(gateway); });
}

}  // namespace corvenza::test
