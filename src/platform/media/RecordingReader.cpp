#include "platform/media/RecordingReader.h"

#include <algorithm>
#include <cstring>

#include "platform/media/AviDemuxer.h"
#include "platform/media/MediaError.h"
#include "platform/media/PictureDecoder.h"
#include "platform/media/PictureScaler.h"
#include "platform/media/ScheduledPictures.h"

namespace qm {

using namespace media;

struct RecordingReader::Impl {
  explicit Impl(const QString& path) : Demuxer(path) {}
  AviDemuxer Demuxer;
};

RecordingReader::RecordingReader(const QString& path) : impl_(std::make_unique<Impl>(path)) {}

RecordingReader::~RecordingReader() = default;

const RecordingInfo& RecordingReader::Info() const {
  return impl_->Demuxer.Info();
}

void RecordingReader::Read(FrameSchedule& schedule, double from, double to, int width, int height,
                           const std::function<void(const RgbPicture&)>& sink,
                           const MediaProgress& progress) {
  AviDemuxer& demuxer = impl_->Demuxer;
  AVStream* video = demuxer.Video();
  PictureDecoder decoder(video);
  PictureScaler scaler(width, height, AV_PIX_FMT_RGB24);
  FramePtr converted = NewFrame();
  RgbPicture picture;
  picture.Width = width;
  picture.Height = height;
  picture.Pixels.resize(size_t(width) * size_t(height) * 3);
  ScheduledPictures pictures(schedule, [&](const AVFrame* frame, double time) {
    scaler.Convert(frame, converted.get());
    for (int y = 0; y < height; ++y)
      std::memcpy(&picture.Pixels[size_t(y) * size_t(width) * 3],
                  converted->data[0] + ptrdiff_t(y) * converted->linesize[0], size_t(width) * 3);
    picture.Time = time;
    sink(picture);
  });
  const auto decoded = [&](AVFrame* frame, int64_t stamp) {
    pictures.Add(frame, AviDemuxer::Seconds(video, stamp));
  };
  demuxer.SeekTo(from);
  PacketPtr packet = NewPacket();
  const double span = std::max(to - from, 1e-3);
  while (!pictures.Done() && demuxer.Read(packet.get())) {
    if (packet->stream_index != video->index) continue;
    decoder.Decode(packet.get(), decoded);
    if (packet->pts != AV_NOPTS_VALUE && progress &&
        !progress(std::clamp((AviDemuxer::Seconds(video, packet->pts) - from) / span, 0.0, 1.0)))
      throw MediaCancelled();
  }
  if (!pictures.Done()) decoder.Finish(decoded);
  pictures.Finish(to);
}

}  // namespace qm
