#include "platform/sigv4/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <fstream>
#include <memory>

#include "platform/sigv4/signing_error.h"

namespace corvenza::sigv4 {

namespace {

struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

std::string finish(EVP_MD_CTX* ctx) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx, digest.data(), &length);
  return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

}  // namespace

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0x0f]);
  }
  return out;
}

std::string sha256(std::string_view data) {
  MdCtx ctx(EVP_MD_CTX_new());
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  EVP_DigestUpdate(ctx.get(), data.data(), data.size());
  return finish(ctx.get());
}

std::string sha256Hex(std::string_view data) { return hex(sha256(data)); }

detail::Result<std::string> sha256FileHex(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return signingError(SigningErrorCode::unreadableBody, "The body file cannot be read.");
  MdCtx ctx(EVP_MD_CTX_new());
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  std::array<char, 64 * 1024> buffer{};
  while (in) {
    in.read(buffer.data(), buffer.size());
    const auto got = in.gcount();
    if (got > 0) EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(got));
  }
  if (in.bad()) {
    return signingError(SigningErrorCode::unreadableBody, "The body file cannot be read.");
  }
  return hex(finish(ctx.get()));
}

std::string hmacSha256(std::string_view key, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac.data(), &length);
  return std::string(reinterpret_cast<const char*>(mac.data()), length);
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace corvenza::sigv4
