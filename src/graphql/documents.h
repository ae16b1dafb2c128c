#pragma once
// The ten operation documents and four fragments the library sends, built
// once from their selection trees.

#include <string>
#include <string_view>
#include <vector>

#include "graphql/selection.h"

namespace corvenza::graphql {

enum class FragmentName {
  bodysizeEstimation,
  bodysizeEstimationIndexOutput,
  bodysizeEstimationMinimumOutput,
  s3Object,
};

enum class OperationName {
  getBodysizeEstimation,
  listBodysizeEstimations,
  createBodysizeEstimation,
  updateBodysizeEstimation,
  deleteBodysizeEstimation,
  attachFrontImage,
  attachSideImage,
  onCreateEstimationRequest,
  onUpdateEstimationRequest,
  onDeleteEstimationRequest,
};

struct FragmentDocument {
  std::string name;  // as spread: "BodysizeEstimation"
  Document document;
  std::string text;
};

struct OperationDocument {
  Document document;
  std::vector<FragmentName> fragments;  // in the order they are appended
  std::string operationString;
  std::string requestString;  // operation then fragments, nothing in between
  const Selection& rootField() const { return document.selections.front(); }
};

const FragmentDocument& fragmentDocument(FragmentName name);
// The fragment a spread names, or nullptr for a name we do not know.
const FragmentDocument* fragmentDocument(std::string_view spreadName);
const OperationDocument& operationDocument(OperationName name);

}  // namespace corvenza::graphql
