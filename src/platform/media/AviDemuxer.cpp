#include "platform/media/AviDemuxer.h"

#include <QFile>

#include <cmath>

#include "platform/media/MediaError.h"

namespace qm::media {

namespace {

// The sizes a picture stream may claim: what the recorder writes and the encoders take.
constexpr int kMaxSide = 16384;

}  // namespace

AviDemuxer::AviDemuxer(const QString& path) {
  // A damaged file makes the library complain on standard error, line after line, over the
  // progress line; what matters reaches the user as MediaError.
  av_log_set_level(AV_LOG_QUIET);
  const QString name = QFile::decodeName(QFile::encodeName(path));
  AVFormatContext* context = nullptr;
  const AVInputFormat* avi = av_find_input_format("avi");
  if (avformat_open_input(&context, QFile::encodeName(path).constData(), avi, nullptr) < 0)
    throw MediaError(name.toStdString() + " is not an AVI file");
  input_.reset(context);
  if (avformat_find_stream_info(context, nullptr) < 0)
    throw MediaError(name.toStdString() + " is not a readable AVI file");
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    AVStream* stream = context->streams[i];
    const AVCodecParameters* codec = stream->codecpar;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO && !video_)
      video_ = stream;
    else if (codec->codec_type == AVMEDIA_TYPE_AUDIO && !sound_ && codec->sample_rate > 0 &&
             codec->ch_layout.nb_channels > 0 && codec->ch_layout.nb_channels <= 8)
      sound_ = stream;
    else
      stream->discard = AVDISCARD_ALL;
  }
  if (!video_ || video_->codecpar->width <= 0 || video_->codecpar->height <= 0 ||
      video_->codecpar->width > kMaxSide || video_->codecpar->height > kMaxSide ||
      video_->time_base.num <= 0 || video_->time_base.den <= 0 ||
      !avcodec_find_decoder(video_->codecpar->codec_id))
    throw MediaError(name.toStdString() + " has no pictures that can be read");
  if (sound_ && (!avcodec_find_decoder(sound_->codecpar->codec_id) || sound_->time_base.num <= 0 ||
                 sound_->time_base.den <= 0))
    sound_ = nullptr;

  info_.Width = video_->codecpar->width;
  info_.Height = video_->codecpar->height;
  const AVRational rate =
      video_->avg_frame_rate.num > 0 ? video_->avg_frame_rate : av_inv_q(video_->time_base);
  info_.FrameRate = av_q2d(rate);
  info_.VideoCodec = QString::fromLatin1(avcodec_get_name(video_->codecpar->codec_id));
  // The header counts every frame, the repeated (empty) ones too.
  if (video_->duration > 0 && video_->duration != AV_NOPTS_VALUE)
    info_.Duration = Seconds(video_, video_->start_time == AV_NOPTS_VALUE
                                         ? video_->duration
                                         : video_->start_time + video_->duration);
  else if (video_->nb_frames > 0 && info_.FrameRate > 0)
    info_.Duration = double(video_->nb_frames) / info_.FrameRate;
  if (!std::isfinite(info_.Duration) || info_.Duration < 0) info_.Duration = 0;
  info_.Sound = sound_ != nullptr;
  if (sound_) info_.SoundCodec = QString::fromLatin1(avcodec_get_name(sound_->codecpar->codec_id));
}

bool AviDemuxer::Read(AVPacket* packet) {
  for (;;) {
    av_packet_unref(packet);
    if (av_read_frame(input_.get(), packet) < 0) return false;
    if (packet->stream_index == video_->index || (sound_ && packet->stream_index == sound_->index))
      return true;
  }
}

void AviDemuxer::SeekTo(double seconds) {
  if (seconds <= 0) return;  // reading starts at the first frame anyway
  const int64_t stamp = int64_t(std::floor(seconds / av_q2d(video_->time_base) + 1e-6));
  av_seek_frame(input_.get(), video_->index, stamp, AVSEEK_FLAG_BACKWARD);
}

double AviDemuxer::Seconds(const AVStream* stream, int64_t stamp) {
  return double(stamp) * av_q2d(stream->time_base);
}

}  // namespace qm::media
