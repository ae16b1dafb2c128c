#pragma once
// The operator's list: every identity's requests, newest first, a page at a time.

#include <string>

#include "dashboard/paging.h"
#include "estimation/estimation_record.h"
#include "estimation/estimation_store.h"

namespace corvenza::emulator::dashboard {

/// "/dashboard/requests/<id>" for a valid request id.
std::string requestPath(const std::string& id);

/// The HTML of a status as a badge.
std::string statusBadge(const std::string& status);

/// The list's content: a table (id="requests") with one row (data-id) per
/// request of @p page and links to the newer and older pages.
std::string renderRequestsContent(const estimation::OverviewPage& page, const Paging& paging);

}  // namespace corvenza::emulator::dashboard
