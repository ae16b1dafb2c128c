// The default image codec: JPEG through TurboJPEG, PNG through libpng.

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "core/unique_fd.h"
#include "platform/image/exif_orientation.h"
#include "platform/image/image_codec.h"
#include "platform/image/image_error.h"
#include "platform/image/jpeg_encoder.h"
#include "platform/image/jpeg_scaling.h"
#include "platform/image/large_buffer.h"

namespace corvenza::image {

namespace {

struct TjDestroy {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDestroy>;

bool isPng(std::span<const std::uint8_t> b) {
  static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return b.size() >= sizeof kSignature && std::memcmp(b.data(), kSignature, sizeof kSignature) == 0;
}

// Checked before anything is allocated for the pixels.
std::optional<Error> sizeProblem(std::int64_t width, std::int64_t height) {
  if (width > 0 && height > 0 && width * height <= kMaxPixelCount) return std::nullopt;
  return undecodableImage("the picture is " + std::to_string(width) + " x " +
                          std::to_string(height) + " pixels; at most " +
                          std::to_string(kMaxPixelCount >> 20) + " megapixels are accepted");
}

detail::Result<DecodedImage> decodeJpeg(std::span<const std::uint8_t> bytes, int minimumWidth) {
  TjHandle handle(tjInitDecompress());
  if (!handle) return undecodableImage("no JPEG decoder available");
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned long>(bytes.size());
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling, &colorspace) !=
      0) {
    return undecodableImage(tjGetErrorStr2(handle.get()));
  }
  if (auto problem = sizeProblem(width, height)) return *problem;
  // A damaged EXIF block says nothing trustworthy about orientation, but the
  // picture itself may be fine: show it as stored.
  auto orientation = readJpegOrientation(bytes);
  const Orientation turn = orientation ? *orientation : Orientation::up;
  const bool swapped = swapsAxes(turn);

  const tjscalingfactor scaling{dctScaleEighths(swapped ? height : width, minimumWidth), 8};
  PixelBuffer pixels{TJSCALED(width, scaling), TJSCALED(height, scaling), {}};
  resizeLargeBuffer(pixels.rgb, pixels.stride() * pixels.height);
  // Any warning (a truncated or corrupt stream) fails the decode: a grey-filled
  // half picture must not be uploaded as if it were the photo.
  if (tjDecompress2(handle.get(), data, size, pixels.rgb.data(), pixels.width, 0, pixels.height,
                    TJPF_RGB, 0) != 0) {
    return undecodableImage(tjGetErrorStr2(handle.get()));
  }
  DecodedImage out;
  out.fullWidth = swapped ? height : width;
  out.fullHeight = swapped ? width : height;
  out.orientation = turn;
  out.pixels = std::move(pixels);
  return out;
}

struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
};

detail::Result<DecodedImage> decodePng(std::span<const std::uint8_t> bytes) {
  PngImage png;
  if (!png_image_begin_read_from_memory(&png.image, bytes.data(), bytes.size())) {
    return undecodableImage(png.image.message);
  }
  if (auto problem = sizeProblem(png.image.width, png.image.height)) return *problem;
  png.image.format = PNG_FORMAT_RGB;
  PixelBuffer pixels{static_cast<int>(png.image.width), static_cast<int>(png.image.height), {}};
  resizeLargeBuffer(pixels.rgb, PNG_IMAGE_SIZE(png.image));
  // Transparent parts become white, as they would on a page.
  const png_color white{255, 255, 255};
  if (!png_image_finish_read(&png.image, &white, pixels.rgb.data(), 0, nullptr)) {
    return undecodableImage(png.image.message);
  }
  DecodedImage out;
  out.fullWidth = pixels.width;
  out.fullHeight = pixels.height;
  out.pixels = std::move(pixels);
  return out;
}

class TurboImageCodec final : public ImageCodec {
 public:
  detail::Result<DecodedImage> decode(std::span<const std::uint8_t> bytes,
                                      int minimumWidth) const override {
    if (bytes.empty()) return undecodableImage("no data");
    if (looksLikeJpeg(bytes)) return decodeJpeg(bytes, minimumWidth);
    if (isPng(bytes)) return decodePng(bytes);
    return undecodableImage("neither JPEG nor PNG data");
  }

  detail::Result<std::vector<std::uint8_t>> encodeJpeg(PixelView pixels,
                                                       int quality) const override {
    return encodeBaselineJpeg(pixels, quality);
  }
};

}  // namespace

const ImageCodec& defaultImageCodec() {
  // Immortal: a photo may still be prepared on a library thread while the
  // process exits.
  static const auto* codec = new TurboImageCodec();
  return *codec;
}

detail::Result<std::vector<std::uint8_t>> readImageFile(const std::filesystem::path& path) {
  const auto name = path.filename().string();
  auto unreadable = [&](const std::string& why) {
    return makeImageError(ImageErrorCode::unreadableFile,
                          "The image file " + name + " cannot be read: " + why + ".");
  };
  // Non-blocking, so that a FIFO given as a photo cannot hold the caller.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return unreadable(std::strerror(errno));
  detail::UniqueFd closer(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    return unreadable("it is not a regular file");
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size > kMaxImageFileBytes) {
    return unreadable("it is larger than " + std::to_string(kMaxImageFileBytes >> 20) + " MiB");
  }
  auto readAll = [fd](std::uint8_t* into, std::size_t wanted) -> std::size_t {
    std::size_t done = 0;
    while (done < wanted) {
      const auto got = ::read(fd, into + done, wanted - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  };
  // The type is checked on the first bytes, before the rest is read at all.
  std::uint8_t head[8] = {};
  const auto headSize = readAll(head, std::min<std::size_t>(sizeof head, size));
  if (!looksLikeJpeg({head, headSize}) && !isPng({head, headSize})) {
    return makeImageError(ImageErrorCode::undecodable,
                          "The image file " + name + " is not a JPEG or PNG picture.");
  }
  std::vector<std::uint8_t> bytes;
  resizeLargeBuffer(bytes, static_cast<std::size_t>(size));
  std::copy(head, head + headSize, bytes.begin());
  if (readAll(bytes.data() + headSize, bytes.size() - headSize) != bytes.size() - headSize) {
    return unreadable("it ended early");
  }
  return bytes;
}

}  // namespace corvenza::image
