#include "platform/image/photo_preparation.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/image/image_error.h"
#include "platform/image/image_geometry.h"
#include "platform/image/image_resample.h"
#include "platform/image/jpeg_row_decoder.h"
#include "platform/image/jpeg_scaling.h"
#include "platform/image/large_buffer.h"

namespace corvenza::image {

namespace {

Error scalingFailed() {
  return makeImageError(ImageErrorCode::scalingFailed, "The photo could not be scaled.");
}

/// Takes a JPEG's rows as the decoder produces them and, on a second thread,
/// scales each output row as soon as the source rows it reads are in, so
/// that scaling costs next to nothing on top of decoding. Output rows stay in
/// the stored orientation; the turn comes last, on the small picture.
class FittingRowSink final : public JpegRowSink {
 public:
  explicit FittingRowSink(double maximumWidth) : maximumWidth_(maximumWidth) {}
  ~FittingRowSink() override { finish(false); }

  std::uint8_t* begin(const JpegRowLayout& layout) override {
    layout_ = layout;
    stored_.width = layout.width;
    stored_.height = layout.height;
    resizeLargeBuffer(stored_.rgb, stored_.stride() * stored_.height);
    if (layout.fullWidth > maximumWidth_) {
      const auto size = resizedPixelSize(layout.fullWidth, layout.fullHeight, 1.0, maximumWidth_);
      if (!size) return nullptr;
      const bool swapped = swapsAxes(layout.orientation);
      scaled_.width = swapped ? size->height : size->width;
      scaled_.height = swapped ? size->width : size->height;
      resizeLargeBuffer(scaled_.rgb, scaled_.stride() * scaled_.height);
      resampler_ = std::make_unique<RowResampler>(stored_.width, stored_.height, scaled_.width,
                                                  scaled_.height);
      if (!resampler_->valid()) return nullptr;
      try {
        worker_ = std::thread([this] { scaleRows(); });
      } catch (const std::system_error&) {
        threadless_ = true;  // no thread to be had: scale after decoding instead
      }
    }
    return stored_.rgb.data();
  }

  void rowsDecoded(int count) override {
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      decodedRows_ = count;
      // Waking the worker for every band would cost a system call each.
      wake = awaitedRows_ > 0 && count >= awaitedRows_;
    }
    if (wake) arrived_.notify_one();
  }

  /// Waits for the scaling to end. @p decoded: the decode succeeded.
  void finish(bool decoded) {
    {
      std::lock_guard lock(mutex_);
      abandoned_ = !decoded;
    }
    arrived_.notify_one();
    if (worker_.joinable()) worker_.join();
    if (decoded && threadless_) scaleRows();
  }

  /// The picture as taken, at most maximumWidth wide; empty when scaling failed.
  PixelBuffer take() {
    if (!resampler_) return applyOrientation(std::move(stored_), layout_.orientation);
    if (scaledRows_ != scaled_.height) return {};
    return applyOrientation(std::move(scaled_), layout_.orientation);
  }

 private:
  void scaleRows() {
    const std::size_t stride = scaled_.stride();
    for (int y = 0; y < scaled_.height; ++y) {
      const int needed = resampler_->sourceRowsNeeded(y);
      {
        std::unique_lock lock(mutex_);
        if (decodedRows_ < needed && !abandoned_) {
          // Ask for a few dozen rows beyond the need, so that the worker
          // wakes a few dozen times per photo rather than once per band.
          constexpr int kBatchRows = 48;
          const int awaited = std::min(stored_.height, needed + kBatchRows);
          awaitedRows_ = awaited;
          arrived_.wait(lock, [&] { return decodedRows_ >= awaited || abandoned_; });
          awaitedRows_ = 0;
        }
        if (decodedRows_ < needed) return;
      }
      resampler_->resampleRow(stored_.view(), y, scaled_.rgb.data() + stride * y);
      scaledRows_ = y + 1;
    }
  }

  const double maximumWidth_;
  JpegRowLayout layout_;
  PixelBuffer stored_;
  PixelBuffer scaled_;
  std::unique_ptr<RowResampler> resampler_;
  std::thread worker_;
  bool threadless_ = false;
  int scaledRows_ = 0;  // written by the worker, read after join

  std::mutex mutex_;
  std::condition_variable arrived_;
  int decodedRows_ = 0;
  int awaitedRows_ = 0;  // what the waiting worker needs; 0 when it is not waiting
  bool abandoned_ = false;
};

detail::Result<PixelBuffer> loadJpegFitting(std::span<const std::uint8_t> bytes,
                                            double maximumWidth) {
  FittingRowSink sink(maximumWidth);
  auto decoded = decodeJpegRows(bytes, static_cast<int>(std::ceil(maximumWidth)), sink);
  sink.finish(decoded.ok());
  if (!decoded) return decoded.error();
  auto pixels = sink.take();
  if (pixels.empty()) return scalingFailed();
  return pixels;
}

}  // namespace

detail::Result<std::vector<std::uint8_t>> prepareJpegForUpload(const Image& image,
                                                               const ImageCodec& codec) {
  std::shared_ptr<const Image> scaled;
  const Image* source = &image;
  if (image.width() > kUploadWidth) {
    scaled = image.resized(kUploadWidth);
    if (!scaled) return scalingFailed();
    source = scaled.get();
  }
  return codec.encodeJpeg({source->pixelWidth(), source->pixelHeight(), source->rgb()},
                          kUploadJpegQuality);
}

detail::Result<PixelBuffer> loadPhotoFitting(const std::filesystem::path& path, double maximumWidth,
                                             const ImageCodec& codec) {
  if (!(maximumWidth >= 1)) return scalingFailed();
  auto bytes = readImageFile(path);
  if (!bytes) return bytes.error();
  // Decoded files have scale factor 1, so points and pixels coincide.
  if (&codec == &defaultImageCodec() && looksLikeJpeg(*bytes)) {
    return loadJpegFitting(*bytes, maximumWidth);
  }
  auto decoded = codec.decode(*bytes, static_cast<int>(std::ceil(maximumWidth)));
  if (!decoded) return decoded.error();
  bytes->clear();
  bytes->shrink_to_fit();  // the encoded input is no longer needed; keep the peak low

  if (decoded->fullWidth <= maximumWidth) return decoded->takeOriented();
  const auto size = resizedPixelSize(decoded->fullWidth, decoded->fullHeight, 1.0, maximumWidth);
  if (!size) return scalingFailed();
  auto pixels =
      resampleOriented(decoded->pixels.view(), decoded->orientation, size->width, size->height);
  if (pixels.empty()) return scalingFailed();
  return pixels;
}

detail::Result<PreparedJpeg> preparePhotoFile(const std::filesystem::path& path,
                                              const ImageCodec& codec) {
  auto pixels = loadPhotoFitting(path, kUploadWidth, codec);
  if (!pixels) return pixels.error();
  auto jpeg = codec.encodeJpeg(pixels->view(), kUploadJpegQuality);
  if (!jpeg) return jpeg.error();
  return PreparedJpeg{std::move(*jpeg), pixels->width, pixels->height};
}

detail::Result<std::vector<std::uint8_t>> prepareJpegFileForUpload(
    const std::filesystem::path& path, const ImageCodec& codec) {
  auto prepared = preparePhotoFile(path, codec);
  if (!prepared) return prepared.error();
  return std::move(prepared->bytes);
}

}  // namespace corvenza::image
