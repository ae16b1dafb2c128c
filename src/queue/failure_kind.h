#pragma once
// Which failures a queued creation retries: those that say nothing about the
// request itself (the network, a stall, the service busy or briefly broken),
// as opposed to the service refusing the request or its photos.

#include <corvenza/error.h>

namespace corvenza::queue {

/// True for transport errors, time-outs, HTTP 5xx and 429, throttling, token
/// or credential fetches that could not reach their service, and answers that
/// cannot be read; false for validation errors, other 4xx and everything the
/// queue does not know to be passing.
bool isTransient(const Error& error);

/// True for failures that say nothing about the creation and that no retry
/// mends, only the user: sign-in refused (the authentication service refused
/// the key or the user, the identity service refused the token or no longer
/// knows the identity, the service refused the credentials), photo storage
/// that is not set up, a queue folder that cannot be written. A run stops on
/// them and keeps every entry.
bool isLocalProblem(const Error& error);

/// What a refusal of the signed-in user's own proof calls for: fresh
/// credentials (the service no longer knows the ones in use: expired,
/// revoked, or issued by a service that restarted), a fresh token (the
/// identity service refused it), or nothing of the kind.
enum class StaleProof { none, credentials, token };
StaleProof staleProof(const Error& error);

}  // namespace corvenza::queue
