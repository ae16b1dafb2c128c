#include "platform/image/jpeg_row_decoder.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/image/image_error.h"
#include "platform/image/image_pixels.h"
#include "platform/image/jpeg_scaling.h"

namespace corvenza::image {

namespace {

// libjpeg reports errors by calling error_exit, which must not return: it
// jumps back into decodeJpegRows. Only C frames lie between the two, so no
// destructor is skipped.
struct ErrorManager {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void failDecode(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

// Level -1 is a warning: corrupt or missing data that libjpeg would paper over.
void onMessage(j_common_ptr info, int level) {
  if (level < 0) failDecode(info);
}

// Everything between setjmp and the end; returns the error text or nothing.
// Kept free of objects with destructors, which a jump would skip.
const char* decode(jpeg_decompress_struct& info, ErrorManager& errors,
                   std::span<const std::uint8_t> bytes, int minimumWidth, Orientation orientation,
                   JpegRowSink& sink) {
  if (setjmp(errors.jump)) return errors.message;
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  const auto width = static_cast<std::int64_t>(info.image_width);
  const auto height = static_cast<std::int64_t>(info.image_height);
  if (width <= 0 || height <= 0 || width * height > kMaxPixelCount) {
    return "unsupported picture size";
  }
  const bool swapped = swapsAxes(orientation);
  info.out_color_space = JCS_RGB;
  info.scale_num = static_cast<unsigned>(
      dctScaleEighths(static_cast<int>(swapped ? height : width), minimumWidth));
  info.scale_denom = 8;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) return "unsupported colour layout";

  JpegRowLayout layout;
  layout.width = static_cast<int>(info.output_width);
  layout.height = static_cast<int>(info.output_height);
  layout.fullWidth = static_cast<int>(swapped ? height : width);
  layout.fullHeight = static_cast<int>(swapped ? width : height);
  layout.orientation = orientation;
  std::uint8_t* pixels = sink.begin(layout);
  if (!pixels) return "no room for the picture";

  const std::size_t stride = static_cast<std::size_t>(layout.width) * 3;
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[16];
    const JDIMENSION first = info.output_scanline;
    const JDIMENSION band = std::min<JDIMENSION>(16, info.output_height - first);
    for (JDIMENSION i = 0; i < band; ++i) rows[i] = pixels + stride * (first + i);
    jpeg_read_scanlines(&info, rows, band);
    sink.rowsDecoded(static_cast<int>(info.output_scanline));
  }
  jpeg_finish_decompress(&info);
  return nullptr;
}

}  // namespace

detail::Status decodeJpegRows(std::span<const std::uint8_t> bytes, int minimumWidth,
                              JpegRowSink& sink) {
  if (!looksLikeJpeg(bytes)) return undecodableImage("not JPEG data");
  // A damaged EXIF block says nothing trustworthy about orientation, but the
  // picture itself may be fine: show it as stored.
  const auto orientation = readJpegOrientation(bytes);
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = failDecode;
  errors.manager.emit_message = onMessage;
  const char* failure =
      decode(info, errors, bytes, minimumWidth, orientation ? *orientation : Orientation::up, sink);
  std::string why = failure ? failure : "";
  jpeg_destroy_decompress(&info);
  if (failure) return undecodableImage(why);
  return detail::okStatus();
}

}  // namespace corvenza::image
