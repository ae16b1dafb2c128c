#include "encoding.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>
#include <cstdio>
#include <cstdlib>

namespace corvenza::emulator {
namespace {

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kBase64Url =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encode(std::string_view bytes, std::string_view alphabet, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const auto n = (static_cast<unsigned char>(bytes[i]) << 16) |
                   (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                   static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += alphabet[n & 63];
  }
  const auto rest = bytes.size() - i;
  if (rest > 0) {
    auto n = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    if (rest == 2) out += alphabet[(n >> 6) & 63];
    if (pad) out.append(rest == 1 ? "==" : "=");
  }
  return out;
}

}  // namespace

std::string base64Encode(std::string_view bytes) { return encode(bytes, kBase64, true); }

std::string base64UrlEncode(std::string_view bytes) { return encode(bytes, kBase64Url, false); }

std::optional<std::string> base64UrlDecode(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  unsigned int buffer = 0;
  int bits = 0;
  for (char c : text) {
    const auto pos = kBase64Url.find(c);
    if (pos == std::string_view::npos) return std::nullopt;
    buffer = (buffer << 6) | static_cast<unsigned int>(pos);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return out;
}

std::string randomBytes(std::size_t count) {
  std::string out(count, '\0');
  if (count > 0 &&
      RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1) {
    // Without a working CSPRNG no credential we hand out would be worth anything.
    std::fputs("corvenza-emulator: the system random generator failed\n", stderr);
    std::abort();
  }
  return out;
}

std::string randomString(std::size_t count, std::string_view alphabet) {
  std::string out;
  out.reserve(count);
  // Rejection sampling keeps every character equally likely.
  const auto limit = 256 - (256 % alphabet.size());
  while (out.size() < count) {
    for (unsigned char b : randomBytes(count - out.size() + 8)) {
      if (b >= limit) continue;
      out += alphabet[b % alphabet.size()];
      if (out.size() == count) break;
    }
  }
  return out;
}

std::string uuidFromBytes(std::string_view bytes) {
  std::array<unsigned char, 16> b{};
  for (std::size_t i = 0; i < b.size() && i < bytes.size(); ++i) {
    b[i] = static_cast<unsigned char>(bytes[i]);
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[b[i] >> 4];
    out += kHex[b[i] & 0x0F];
  }
  return out;
}

std::string randomUuid() { return uuidFromBytes(randomBytes(16)); }

std::string hmacSha256(std::string_view key, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data(), &length);
  return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace corvenza::emulator
