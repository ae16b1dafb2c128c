#pragma once
// The three change subscriptions behind the facade: listeners by name, one
// running subscription per kind, events fanned out on the main queue.

#include <corvenza/enterprise.h>

#include <string>

#include "core/enterprise_impl.h"

namespace corvenza::requests {

using SubscriptionKind = EstimationEventKind;

/// Registers @p callback under @p name and starts the kind's subscription when
/// none runs. Start failures reach @p callback synchronously.
void subscribe(CorvenzaEnterprise::Instance::Impl& impl, SubscriptionKind kind,
               RequestCallback callback, const std::string& name);

/// Removes @p name; cancels the kind's subscription when no listener is left.
void unsubscribe(CorvenzaEnterprise::Instance::Impl& impl, SubscriptionKind kind,
                 const std::string& name);

/// Empties every map, then cancels every watcher.
void unsubscribeAll(CorvenzaEnterprise::Instance::Impl& impl);

}  // namespace corvenza::requests
