#include "platform/image/jpeg_encoder.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/image/image_error.h"

namespace corvenza::image {
namespace {

// libjpeg reports errors by calling error_exit, which must not return: it
// jumps back into encodeRows(). Only C frames lie between the two.
struct EncodeErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void failEncode(j_common_ptr info) {
  auto* errors = reinterpret_cast<EncodeErrors*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

// Everything between setjmp and the end; returns the error text or nothing.
// Kept free of objects with destructors, which a jump would skip.
const char* encodeRows(jpeg_compress_struct& info, EncodeErrors& errors, PixelView pixels,
                       int quality, unsigned char** out, unsigned long* size) {
  if (setjmp(errors.jump)) return errors.message;
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, size);
  info.image_width = static_cast<JDIMENSION>(pixels.width);
  info.image_height = static_cast<JDIMENSION>(pixels.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  // The accurate transform at the top qualities, as the TurboJPEG encoder
  // chooses, so that the coefficients (and the decoded pixels) are its own.
  info.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
  jpeg_set_colorspace(&info, JCS_YCbCr);
  // 4:2:0 chroma: at the best quality the loss is invisible on photos and the
  // file is about a third smaller than 4:4:4, which shortens the upload.
  info.comp_info[0].h_samp_factor = 2;
  info.comp_info[0].v_samp_factor = 2;
  for (int c = 1; c < 3; ++c) {
    info.comp_info[c].h_samp_factor = 1;
    info.comp_info[c].v_samp_factor = 1;
  }
  info.optimize_coding = TRUE;
  jpeg_start_compress(&info, TRUE);
  const auto stride = static_cast<std::size_t>(pixels.width) * 3;
  while (info.next_scanline < info.image_height) {
    auto* row = const_cast<JSAMPLE*>(pixels.rgb.data() + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  return nullptr;
}

}  // namespace

detail::Result<std::vector<std::uint8_t>> encodeBaselineJpeg(PixelView pixels, int quality) {
  if (!pixels.valid()) {
    return makeImageError(ImageErrorCode::encodingFailed, "There are no pixels to encode.");
  }
  jpeg_compress_struct info{};
  EncodeErrors errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = failEncode;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const char* failure = encodeRows(info, errors, pixels, std::clamp(quality, 1, 100), &out, &size);
  jpeg_destroy_compress(&info);
  std::vector<std::uint8_t> jpeg;
  if (!failure && out && size > 0) jpeg.assign(out, out + size);
  std::free(out);
  if (jpeg.empty()) {
    return makeImageError(ImageErrorCode::encodingFailed, std::string("JPEG encoding failed: ") +
                                                              (failure ? failure : "no output"));
  }
  return jpeg;
}

}  // namespace corvenza::image
