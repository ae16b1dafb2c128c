#include <corvenza/token.h>

#include <nlohmann/json.hpp>

namespace corvenza {

std::string CorvenzaToken::toJson() const {
  nlohmann::json j = {{"jwt_token", jwtToken}, {"identity_id", identityId}};
  // Bytes that are not UTF-8 become U+FFFD instead of an exception.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<CorvenzaToken> CorvenzaToken::fromJson(std::string_view json, std::string* whyNot) {
  auto fail = [&](const char* reason) -> std::optional<CorvenzaToken> {
    if (whyNot) *whyNot = reason;
    return std::nullopt;
  };
  nlohmann::json j = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) return fail("token JSON does not parse");
  if (!j.is_object()) return fail("token JSON is not an object");
  auto jwt = j.find("jwt_token");
  if (jwt == j.end() || !jwt->is_string()) return fail("\"jwt_token\" is missing or not a string");
  auto id = j.find("identity_id");
  if (id == j.end() || !id->is_string()) return fail("\"identity_id\" is missing or not a string");
  return CorvenzaToken(jwt->get<std::string>(), id->get<std::string>());
}

}  // namespace corvenza
