#pragma once
// One request: its photos, what was asked, its state, and the eighteen
// measurements as a table and on the body figure.

#include <string>

#include "estimation/estimation_record.h"

namespace corvenza::emulator::dashboard {

/// The page's content for @p record. Photos are <img id="front-photo"> and
/// <img id="side-photo"> (thumbnails linking to the full photo); measurement
/// cells carry data-measurement="FIELD" and id="m-FIELD".
std::string renderRequestContent(const estimation::EstimationRecord& record);

/// The content for a request id that names nothing (any more).
std::string renderMissingRequestContent(const std::string& id);

}  // namespace corvenza::emulator::dashboard
