#include "platform/encoding/base64.h"

#include <openssl/evp.h>

#include <algorithm>

namespace corvenza::encoding {
namespace {

// OpenSSL counts in int: work in slices of whole groups (3 bytes, 4 characters).
constexpr std::size_t kBytesPerSlice = std::size_t{3} << 20;
constexpr std::size_t kCharactersPerSlice = kBytesPerSlice / 3 * 4;

bool isAlphanumeric(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string_view withoutPadding(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  return text;
}

// OpenSSL skips blanks and reads '=' anywhere, so the caller checks the
// alphabet first; @p text is standard base64 without padding.
std::optional<std::string> decodeChecked(std::string text) {
  const std::size_t padding = (4 - text.size() % 4) % 4;
  text.append(padding, '=');
  std::string out(text.size() / 4 * 3, '\0');
  const auto* from = reinterpret_cast<const unsigned char*>(text.data());
  auto* to = reinterpret_cast<unsigned char*>(out.data());
  for (std::size_t at = 0; at < text.size(); at += kCharactersPerSlice) {
    const auto length = std::min(kCharactersPerSlice, text.size() - at);
    const int written = EVP_DecodeBlock(to, from + at, static_cast<int>(length));
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
  for (std::size_t at = 0; at < bytes.size(); at += kBytesPerSlice) {
    const auto length = std::min(kBytesPerSlice, bytes.size() - at);
    to += EVP_EncodeBlock(to, from + at, static_cast<int>(length));
  }
  out.pop_back();
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  text = withoutPadding(text);
  const bool inAlphabet = std::all_of(
      text.begin(), text.end(), [](char c) { return isAlphanumeric(c) || c == '+' || c == '/'; });
  if (!inAlphabet) return std::nullopt;
  if (text.size() % 4 == 1) text.remove_suffix(1);
  return decodeChecked(std::string(text));
}

std::string base64UrlEncode(std::string_view bytes) {
  std::string out = base64Encode(bytes);
  out.erase(std::find(out.begin(), out.end(), '='), out.end());
  std::replace(out.begin(), out.end(), '+', '-');
  std::replace(out.begin(), out.end(), '/', '_');
  return out;
}

std::optional<std::string> base64UrlDecode(std::string_view text) {
  text = withoutPadding(text);
  const bool inAlphabet = std::all_of(
      text.begin(), text.end(), [](char c) { return isAlphanumeric(c) || c == '-' || c == '_'; });
  if (!inAlphabet || text.size() % 4 == 1) return std::nullopt;
  std::string standard(text);
  std::replace(standard.begin(), standard.end(), '-', '+');
  std::replace(standard.begin(), standard.end(), '_', '/');
  return decodeChecked(std::move(standard));
}

}  // namespace corvenza::encoding
