#include "platform/jpeg/JpegWriter.h"

#include <QIODevice>

#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

// jpeglib.h relies on FILE and size_t being declared first.
#include <jpeglib.h>

namespace qm {

namespace {

constexpr size_t kOutputBuffer = 64 * 1024;

// libjpeg reports fatal errors through error_exit, which must not return; it jumps back to
// EncodeOrMessage, which turns the message into a result. Exceptions never cross libjpeg's
// C frames.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

struct Destination {
  jpeg_destination_mgr pub;
  QIODevice* out;
  unsigned char* buffer;
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings are not failures; libjpeg's default would print them to standard error.
void OutputMessage(j_common_ptr) {}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputBuffer;
}

[[noreturn]] void DeviceFailed(j_compress_ptr cinfo, const QIODevice& out) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  {
    // The text must be gone before the jump, which skips destructors.
    const std::string text = out.errorString().toStdString();
    std::snprintf(err->message, sizeof err->message, "%s", text.c_str());
  }
  std::longjmp(err->jump, 1);
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  const qint64 size = qint64(kOutputBuffer);
  if (dest->out->write(reinterpret_cast<const char*>(dest->buffer), size) != size)
    DeviceFailed(cinfo, *dest->out);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputBuffer;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  const qint64 size = qint64(kOutputBuffer - dest->pub.free_in_buffer);
  if (size > 0 && dest->out->write(reinterpret_cast<const char*>(dest->buffer), size) != size)
    DeviceFailed(cinfo, *dest->out);
}

struct Job {
  QIODevice* out;
  const uint8_t* topRow;
  ptrdiff_t rowStep;
  int width;
  int height;
  int quality;
  unsigned char* outputBuffer;  // kOutputBuffer bytes
  unsigned char* rgbRow;        // 3 * width bytes
};

// Runs the whole compression. Only trivially destructible objects live in this frame, so a
// long jump out of libjpeg skips no destructor. Returns false with err.message set on failure.
bool EncodeOrMessage(const Job& job, ErrorManager& err) {
  jpeg_compress_struct cinfo;
  Destination dest;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.output_message = OutputMessage;
  err.message[0] = '\0';
  cinfo.mem = nullptr;  // jpeg_destroy_compress after a failed create must find nothing
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);

  dest.pub.init_destination = InitDestination;
  dest.pub.empty_output_buffer = EmptyOutputBuffer;
  dest.pub.term_destination = TermDestination;
  dest.out = job.out;
  dest.buffer = job.outputBuffer;
  cinfo.dest = &dest.pub;

  cinfo.image_width = JDIMENSION(job.width);
  cinfo.image_height = JDIMENSION(job.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_set_quality(&cinfo, job.quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);

  const uint8_t* source = job.topRow;
  JSAMPROW row[1] = {job.rgbRow};
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < job.width; ++x) {
      job.rgbRow[3 * x] = source[3 * x + 2];
      job.rgbRow[3 * x + 1] = source[3 * x + 1];
      job.rgbRow[3 * x + 2] = source[3 * x];
    }
    jpeg_write_scanlines(&cinfo, row, 1);
    source += job.rowStep;
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

void JpegWriter::Write(QIODevice& out, const uint8_t* topRow, ptrdiff_t rowStep, int width,
                       int height, int quality) {
  if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
    throw std::runtime_error("JPEG pictures are 1 to " + std::to_string(JPEG_MAX_DIMENSION) +
                             " pixels either way");
  std::vector<unsigned char> outputBuffer(kOutputBuffer);
  std::vector<unsigned char> rgbRow(size_t(width) * 3);
  const int clamped = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  const Job job{&out, topRow, rowStep, width, height, clamped, outputBuffer.data(), rgbRow.data()};
  ErrorManager err;
  if (!EncodeOrMessage(job, err)) throw std::runtime_error(err.message);
}

}  // namespace qm
