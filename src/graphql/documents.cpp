#include "graphql/documents.h"

#include <corvenza/estimation_fields.h>

#include <array>
#include <utility>

namespace corvenza::graphql {

namespace {

using K = FieldKind;

Selection imageField(std::string name) {
  return objectField(std::move(name), true, {typenameField(), spread("S3Object")});
}

Document s3ObjectFragment() {
  return {"fragment S3Object on S3Object",
          {typenameField(), field("bucket", K::string), field("key", K::string),
           field("region", K::string)}};
}

Document minimumOutputFragment() {
  return {"fragment BodysizeEstimationMinimumOutput on BodysizeEstimation",
          {typenameField(), field("id", K::id), field("createdAt", K::integer),
           field("status", K::status), field("weight", K::floating), field("height", K::floating),
           field("age", K::integer), nullableField("gender", K::gender), field("userId", K::id),
           nullableField("failOnAutomaticEstimationFailure", K::boolean)}};
}

Document indexOutputFragment() {
  return {"fragment BodysizeEstimationIndexOutput on BodysizeEstimation",
          {typenameField(), field("id", K::id), field("createdAt", K::integer),
           field("status", K::status), imageField("frontImageThumb"), imageField("sideImageThumb"),
           field("userId", K::id), nullableField("failOnAutomaticEstimationFailure", K::boolean)}};
}

constexpr std::array<const char*, 8> kImageFields = {
    "frontImageThumb",     "sideImageThumb",           "frontImage",
    "sideImage",           "annotatedFrontImageThumb", "annotatedSideImageThumb",
    "annotatedFrontImage", "annotatedSideImage"};

constexpr std::array<const char*, 16> kProbabilityFields = {
    "probabilityOfBicepCircumferenceInHitZone", "probabilityOfCalfCircumferenceInHitZone",
    "probabilityOfChestCircumferenceInHitZone", "probabilityOfHighHipCircumferenceInHitZone",
    "probabilityOfHipCircumferenceInHitZone",   "probabilityOfInseamLengthInHitZone",
    "probabilityOfKneeCircumferenceInHitZone",  "probabilityOfMidThighCircumferenceInHitZone",
    "probabilityOfNeckCircumferenceInHitZone",  "probabilityOfOutseamLengthInHitZone",
    "probabilityOfShoulderWidthInHitZone",      "probabilityOfSleeveLengthInHitZone",
    "probabilityOfThighCircumferenceInHitZone", "probabilityOfTotalLengthInHitZone",
    "probabilityOfWaistCircumferenceInHitZone", "probabilityOfWristCircumferenceInHitZone"};

Document fullFragment() {
  Document d{
      "fragment BodysizeEstimation on BodysizeEstimation",
      {typenameField(), field("id", K::id), field("userId", K::id), field("createdAt", K::integer),
       field("status", K::status), nullableField("gender", K::gender), field("age", K::integer),
       field("height", K::floating), field("weight", K::floating)}};
  for (const char* name : kImageFields) d.selections.push_back(imageField(name));
  for (const auto& measurement : corvenza::kMeasurementFields) {
    d.selections.push_back(nullableField(std::string(measurement.wireName), K::floating));
  }
  d.selections.push_back(nullableField("failOnAutomaticEstimationFailure", K::boolean));
  d.selections.push_back(nullableField("errorCode", K::string));
  for (const char* name : kProbabilityFields) {
    d.selections.push_back(nullableField(name, K::integer));
  }
  return d;
}

FragmentDocument makeFragment(std::string name, Document document) {
  std::string text = printDocument(document);
  return {std::move(name), std::move(document), std::move(text)};
}

const std::array<FragmentDocument, 4>& fragments() {
  // Same order as FragmentName.
  static const std::array<FragmentDocument, 4> all = {
      makeFragment("BodysizeEstimation", fullFragment()),
      makeFragment("BodysizeEstimationIndexOutput", indexOutputFragment()),
      makeFragment("BodysizeEstimationMinimumOutput", minimumOutputFragment()),
      makeFragment("S3Object", s3ObjectFragment())};
  return all;
}

OperationDocument makeOperation(std::string header, Selection root,
                                std::vector<FragmentName> appended) {
  OperationDocument op;
  op.document = {std::move(header), {std::move(root)}};
  op.fragments = std::move(appended);
  op.operationString = printDocument(op.document);
  op.requestString = op.operationString;
  for (auto f : op.fragments) op.requestString += fragmentDocument(f).text;
  return op;
}

OperationDocument minimumOutputMutation(const std::string& header, const std::string& rootName,
                                        const std::string& arguments) {
  return makeOperation(
      header,
      objectField(rootName, true, {typenameField(), spread("BodysizeEstimationMinimumOutput")},
                  arguments),
      {FragmentName::bodysizeEstimationMinimumOutput});
}

OperationDocument subscription(const std::string& kind) {
  return makeOperation(
      "subscription On" + kind + "EstimationRequest($userId: ID!)",
      objectField("on" + kind + "BodysizeEstimation", true,
                  {typenameField(), field("id", K::id), field("status", K::status)},
                  "(userId: $userId)"),
      {});
}

const std::array<OperationDocument, 10>& operations() {
  // Same order as OperationName.
  static const std::array<OperationDocument, 10> all = {
      makeOperation("query GetBodysizeEstimation($id: ID!)",
                    objectField("getBodysizeEstimation", true,
                                {typenameField(), spread("BodysizeEstimation")}, "(id: $id)"),
                    {FragmentName::bodysizeEstimation, FragmentName::s3Object}),
      makeOperation(
          "query ListBodysizeEstimations($filter: TableBodysizeEstimationFilterInput, $limit: "
          "Int, $nextToken: String)",
          objectField(
              "listBodysizeEstimations", true,
              {typenameField(),
               listField("items", {typenameField(), spread("BodysizeEstimationIndexOutput")}),
               nullableField("nextToken", K::string)},
              "(filter: $filter, limit: $limit, nextToken: $nextToken)"),
          {FragmentName::bodysizeEstimationIndexOutput, FragmentName::s3Object}),
      minimumOutputMutation(
          "mutation CreateBodysizeEstimation($input: CreateBodysizeEstimationInput!)",
          "createBodysizeEstimation", "(input: $input)"),
      minimumOutputMutation(
          "mutation UpdateBodysizeEstimation($input: UpdateBodysizeEstimationInput!)",
          "updateBodysizeEstimation", "(input: $input)"),
      makeOperation("mutation DeleteBodysizeEstimation($input: DeleteBodysizeEstimationInput!)",
                    objectField("deleteBodysizeEstimation", true,
                                {typenameField(), field("id", K::id)}, "(input: $input)"),
                    {}),
      minimumOutputMutation("mutation AttachFrontImage($id: ID!, $image: S3ObjectInput!)",
                            "attachFrontImage", "(id: $id, image: $image)"),
      minimumOutputMutation("mutation AttachSideImage($id: ID!, $image: S3ObjectInput!)",
                            "attachSideImage", "(id: $id, image: $image)"),
      subscription("Create"),
      subscription("Update"),
      subscription("Delete")};
  return all;
}

}  // namespace

const FragmentDocument& fragmentDocument(FragmentName name) {
  return fragments()[static_cast<std::size_t>(name)];
}

const FragmentDocument* fragmentDocument(std::string_view spreadName) {
  for (const auto& f : fragments()) {
    if (f.name == spreadName) return &f;
  }
  return nullptr;
}

const OperationDocument& operationDocument(OperationName name) {
  return operations()[static_cast<std::size_t>(name)];
}

}  // namespace corvenza::graphql
