#pragma once
// The request strings the client library sends, assembled from the golden
// documents in tests/data/graphql (operation first, then its fragments).

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace corvenza::emulator::testing {

inline std::string readGraphQLFile(const std::string& name) {
  std::ifstream in(std::string(CORVENZA_TEST_DATA_DIR) + "/graphql/" + name + ".graphql");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string clientRequestString(const std::string& operation) {
  std::vector<std::string> fragments;
  if (operation == "get_bodysize_estimation") {
    fragments = {"fragment_bodysize_estimation", "fragment_s3_object"};
  } else if (operation == "list_bodysize_estimations") {
    fragments = {"fragment_bodysize_estimation_index_output", "fragment_s3_object"};
  } else if (operation == "create_bodysize_estimation" ||
             operation == "update_bodysize_estimation" || operation == "attach_front_image" ||
             operation == "attach_side_image") {
    fragments = {"fragment_bodysize_estimation_minimum_output"};
  }
  auto text = readGraphQLFile(operation);
  for (const auto& fragment : fragments) text += readGraphQLFile(fragment);
  return text;
}

inline const std::vector<std::string>& clientOperations() {
  static const std::vector<std::string> names = {
      "get_bodysize_estimation",     "list_bodysize_estimations",    "create_bodysize_estimation",
      "update_bodysize_estimation",  "delete_bodysize_estimation",   "attach_front_image",
      "attach_side_image",           "on_create_estimation_request", "on_update_estimation_request",
      "on_delete_estimation_request"};
  return names;
}

}  // namespace corvenza::emulator::testing
