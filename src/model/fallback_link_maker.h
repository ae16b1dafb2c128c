#pragma once
// Where a RemoteImageProxy that the application built itself gets its links:
// from the link maker the facade's shared instance installs, since such a
// proxy came from no client of its own.

#include <corvenza/remote_image.h>

namespace corvenza::model {

/// Installs @p maker for every proxy made without a link maker (empty: none).
/// Thread-safe.
void setFallbackLinkMaker(DownloadLinkMaker maker);

}  // namespace corvenza::model
