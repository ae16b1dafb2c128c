#include "platform/encoding/base64.h"

#include <openssl/evp.h>

#include <algorithm>

namespace corvenza::encoding {
namespace {

// OpenSSL counts in int: slices of whole groups (3 bytes, 4 characters).
constexpr std::size_t kSliceBytes = std::size_t{3} << 20;
constexpr std::size_t kSliceCharacters = kSliceBytes / 3 * 4;

// OpenSSL skips blanks and reads '=' anywhere, so the alphabet is checked
// here first.
std::optional<std::string_view> unpadded(std::string_view text, char beforeLast, char last) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  const bool inAlphabet = std::all_of(text.begin(), text.end(), [&](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == beforeLast || c == last;
  });
  return inAlphabet ? std::optional(text) : std::nullopt;
}

// @p text: standard base64 without padding, of a length an encoder makes.
std::optional<std::string> decodeStandard(std::string text) {
  const std::size_t padding = (4 - text.size() % 4) % 4;
  text.append(padding, '=');
  std::string out(text.size() / 4 * 3, '\0');
  const auto* from = reinterpret_cast<const unsigned char*>(text.data());
  auto* to = reinterpret_cast<unsigned char*>(out.data());
  for (std::size_t at = 0; at < text.size(); at += kSliceCharacters) {
    const int written = EVP_DecodeBlock(
        to, from + at, static_cast<int>(std::min(kSliceCharacters, text.size() - at)));
    if (written < 0) return std::nullopt;
    to += written;
  }
  out.resize(out.size() - padding);
  return out;
}

}  // namespace

std::string base64Encode(std::string_view bytes) {
  // One more for the NUL that OpenSSL writes after each slice.
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const auto* from = reinterpret_cast<const unsigned char*>(bytes.data());
  auto* to = reinterpret_cast<unsigned char*>(out.data());
  for (std::size_t at = 0; at < bytes.size(); at += kSliceBytes) {
    to +=
        EVP_EncodeBlock(to, from + at, static_cast<int>(std::min(kSliceBytes, bytes.size() - at)));
  }
  out.pop_back();
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  auto checked = unpadded(text, '+', '/');
  if (!checked) return std::nullopt;
  if (checked->size() % 4 == 1) checked->remove_suffix(1);
  return decodeStandard(std::string(*checked));
}

std::string base64UrlEncode(std::string_view bytes) {
  std::string out = base64Encode(bytes);
  out.erase(std::find(out.begin(), out.end(), '='), out.end());
  std::replace(out.begin(), out.end(), '+', '-');
  std::replace(out.begin(), out.end(), '/', '_');
  return out;
}

std::optional<std::string> base64UrlDecode(std::string_view text) {
  const auto checked = unpadded(text, '-', '_');
  if (!checked || checked->size() % 4 == 1) return std::nullopt;
  std::string standard(*checked);
  std::replace(standard.begin(), standard.end(), '-', '+');
  std::replace(standard.begin(), standard.end(), '_', '/');
  return decodeStandard(std::move(standard));
}

}  // namespace corvenza::encoding
