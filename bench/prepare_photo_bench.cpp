// Where the time goes when a 12-megapixel phone photo is prepared for upload:
// the whole job, then each stage on its own.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "platform/image/exif_orientation.h"
#include "platform/image/image_codec.h"
#include "platform/image/image_resample.h"
#include "platform/image/photo_preparation.h"

namespace {

using namespace corvenza::image;

// The photos sit in the source tree; CORVENZA_PHOTOS_DIR points elsewhere.
std::filesystem::path photosDir() {
  if (const char* dir = std::getenv("CORVENZA_PHOTOS_DIR")) return dir;
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "examples" / "photos";
}

const std::filesystem::path kFront = photosDir() / "front-4032x3024-exif6.jpg";

const std::vector<std::uint8_t>& frontBytes() {
  static const auto bytes = readImageFile(kFront).value();
  return bytes;
}

void wholePreparation(benchmark::State& state) {
  for (auto _ : state) {
    auto jpeg = prepareJpegFileForUpload(kFront);
    if (!jpeg) state.SkipWithError("preparation failed");
    benchmark::DoNotOptimize(jpeg);
  }
}
BENCHMARK(wholePreparation)->Unit(benchmark::kMillisecond);

// Argument: the minimum width handed to the decoder (0: full size).
void decode(benchmark::State& state) {
  const auto& bytes = frontBytes();
  for (auto _ : state) {
    auto decoded = defaultImageCodec().decode(bytes, static_cast<int>(state.range(0)));
    if (!decoded) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(decoded);
  }
}
BENCHMARK(decode)->Arg(1080)->Arg(1512)->Arg(0)->Unit(benchmark::kMillisecond);

// The photo as stored, decoded at the size the upload path decodes it.
PixelBuffer scaledDecode() { return defaultImageCodec().decode(frontBytes(), 1080).value().pixels; }

// As stored (landscape), without the turn.
void resampleOnly(benchmark::State& state) {
  const PixelBuffer source = scaledDecode();
  for (auto _ : state) {
    auto out = resample(source.view(), 1440, 1080);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(resampleOnly)->Unit(benchmark::kMillisecond);

// What the upload path does: scale and turn in one go.
void resampleAndTurn(benchmark::State& state) {
  const PixelBuffer source = scaledDecode();
  for (auto _ : state) {
    auto out = resampleOriented(source.view(), Orientation::right, 1080, 1440);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(resampleAndTurn)->Unit(benchmark::kMillisecond);

void turnQuarter(benchmark::State& state) {
  const PixelBuffer source = scaledDecode();
  for (auto _ : state) {
    auto out = applyOrientation(source, Orientation::right);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(turnQuarter)->Unit(benchmark::kMillisecond);

void encodeBestQuality(benchmark::State& state) {
  const PixelBuffer prepared =
      resampleOriented(scaledDecode().view(), Orientation::right, 1080, 1440);
  for (auto _ : state) {
    auto jpeg = defaultImageCodec().encodeJpeg(prepared.view(), kUploadJpegQuality);
    benchmark::DoNotOptimize(jpeg);
  }
}
BENCHMARK(encodeBestQuality)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
