#include "platform/encoding/base64.h"

#include <gtest/gtest.h>

namespace corvenza::encoding {
namespace {

TEST(Base64Test, EncodesKnownVectorsInBothAlphabets) {
  const std::vector<std::array<std::string, 3>> cases = {{"", "", ""},
                                                         {"f", "Zg==", "Zg"},
                                                         {"fo", "Zm8=", "Zm8"},
                                                         {"{}", "e30=", "e30"},
                                                         {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
                                                         {"\xfb\xff", "+/8=", "-_8"}};
  for (const auto& [bytes, standard, url] : cases) {
    EXPECT_EQ(base64Encode(bytes), standard) << bytes;
    EXPECT_EQ(base64UrlEncode(bytes), url) << bytes;
  }
}

TEST(Base64Test, RoundTripsEveryPaddingLengthAndInputsLongerThanASlice) {
  for (const std::size_t length : {0, 1, 2, 3, 4, 5, 6, 7, 3 * 1024 * 1024 + 2}) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(0xff - 37 * i);
    EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes) << length;
    EXPECT_EQ(base64UrlDecode(base64UrlEncode(bytes)), bytes) << length;
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
