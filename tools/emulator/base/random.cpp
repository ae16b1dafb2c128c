#include "base/random.h"

#include <openssl/rand.h>

#include <array>
#include <cstdio>
#include <cstdlib>

namespace corvenza::emulator {

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

}  // namespace corvenza::emulator
