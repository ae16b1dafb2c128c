#include "platform/encoding/base64.h"

#include <gtest/gtest.h>

namespace corvenza::encoding {
namespace {

TEST(Base64Test, EncodesKnownVectorsInBothAlphabets) {
  struct Case {
    std::string bytes, standard, url;
  };
  for (const auto& c : std::vector<Case>{{"", "", ""},
                                         {"f", "Zg==", "Zg"},
                                         {"fo", "Zm8=", "Zm8"},
                                         {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
                                         {"{}", "e30=", "e30"},
                                         {"\xfb\xff", "+/8=", "-_8"}}) {
    EXPECT_EQ(base64Encode(c.bytes), c.standard) << c.bytes;
    EXPECT_EQ(base64UrlEncode(c.bytes), c.url) << c.bytes;
  }
}

TEST(Base64Test, RoundTripsEveryPaddingLengthAndLongInput) {
  std::vector<std::string> inputs;
  for (std::size_t length = 0; length < 8; ++length) {
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i) bytes += static_cast<char>(0xff - 37 * i);
    inputs.push_back(bytes);
  }
  // Longer than one slice that OpenSSL is handed at a time.
  std::string longText(3 * 1024 * 1024 + 2, '\0');
  for (std::size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>(i * 7);
  inputs.push_back(longText);
  for (const auto& bytes : inputs) {
    EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes) << bytes.size();
    EXPECT_EQ(base64UrlDecode(base64UrlEncode(bytes)), bytes) << bytes.size();
  }
}

TEST(Base64Test, DecodersTakeEitherPaddingAndRefuseOtherCharacters) {
  struct Case {
    const char* text;
    std::optional<std::string> standard, url;
  };
  for (const auto& c : std::vector<Case>{
           {"Zm8", "fo", "fo"},
           {"Zm8=", "fo", "fo"},
           {"+/8=", "\xfb\xff", std::nullopt},
           {"-_8", std::nullopt, "\xfb\xff"},
           {"Zm9v+mFy",
            "foo\xfa"
            "ar",
            std::nullopt},
           {"ab$c", std::nullopt, std::nullopt},
           {" Zg==", std::nullopt, std::nullopt},
           {"Z=g=", std::nullopt, std::nullopt},
           // A lone last character holds no byte: ignored, or refused in tokens.
           {"Zm9vY", "foo", std::nullopt},
           {"Z", "", std::nullopt},
       }) {
    EXPECT_EQ(base64Decode(c.text), c.standard) << c.text;
    EXPECT_EQ(base64UrlDecode(c.text), c.url) << c.text;
  }
}

}  // namespace
}  // namespace corvenza::encoding
