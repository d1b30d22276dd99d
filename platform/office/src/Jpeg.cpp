#include "Jpeg.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace office::detail {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

extern "C" void OnJpegMessage(j_common_ptr) {}

// Only trivially destructible locals live here, so leaving it by longjmp skips no destructor.
bool EncodeRaw(const unsigned char* pixels, int width, int height, int stride, int quality,
               unsigned char** buffer, unsigned long* size, char* message) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.base);
  err.base.error_exit = OnJpegError;
  err.base.output_message = OnJpegMessage;
  err.message[0] = '\0';
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::strncpy(message, err.message, JMSG_LENGTH_MAX);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, buffer, size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(cinfo.next_scanline) *
                                                     static_cast<std::size_t>(stride));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

bool EncodeJpegBgr(const unsigned char* pixels, int width, int height, int stride, int quality,
                   std::vector<unsigned char>& out, std::string& error) {
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  char message[JMSG_LENGTH_MAX] = {};
  const bool ok = EncodeRaw(pixels, width, height, stride, quality, &buffer, &size, message);
  if (ok) out.assign(buffer, buffer + size);
  std::free(buffer);
  if (!ok) error = std::string("JPEG encoding failed: ") + message;
  return ok;
}

}  // namespace office::detail
