#pragma once
// How the tool shows estimation requests: a readable block or one JSON object.

#include <corvenza/estimation.h>

#include <nlohmann/json.hpp>
#include <ostream>

namespace corvenza::cli {

/// One request as a JSON object with only the fields it holds (createdAt as
/// epoch seconds, images as bucket/key/region, result with the measurements).
nlohmann::ordered_json recordJson(const EstimationRequest& request);

/// One request for people, measurements as a table when present.
void printRecord(std::ostream& out, const EstimationRequest& request);

}  // namespace corvenza::cli
