#pragma once
// The in-memory creation: the four steps run one after another for a
// caller waiting on its callback, with the console lines, progress and
// delegate calls a creation makes.

#include <corvenza/estimation.h>
#include <corvenza/request_callbacks.h>

#include <memory>

namespace corvenza::requests {
struct ClientState;
}

namespace corvenza::creation {

/// Creates a request for @p parameter on @p state's client: create, attach
/// the front photo, attach the side photo, read it back, each step under its
/// own 45-second time-out. @p callback runs once, on the client's main
/// queue, with the request read back or the errors (annotated with the step,
/// and the request left behind once one was made).
void createEstimationRequest(const std::shared_ptr<requests::ClientState>& state,
                             const EstimationParameter& parameter, RequestCallback callback);

}  // namespace corvenza::creation
