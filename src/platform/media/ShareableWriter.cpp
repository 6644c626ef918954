#include "platform/media/ShareableWriter.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/opt.h>
}

#include <QFile>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "platform/media/AviDemuxer.h"
#include "platform/media/FileOutput.h"
#include "platform/media/MediaError.h"
#include "platform/media/PictureDecoder.h"
#include "platform/media/PictureScaler.h"
#include "platform/media/ScheduledPictures.h"
#include "platform/media/SoundTranscoder.h"

namespace qm {

using namespace media;

namespace {

// Encoded pictures are stamped in milliseconds.
constexpr AVRational kMilliseconds{1, 1000};
// x264 at the quality of our H264 recordings; VP9 at a like quality in its real-time mode.
constexpr int kX264RateFactor = 23;
constexpr int kVp9Quality = 32;
constexpr int kVp9Speed = 8;

const char* MuxerName(ShareKind kind) {
  switch (kind) {
    case ShareKind::Mp4:
      return "mp4";
    case ShareKind::WebM:
      return "webm";
    case ShareKind::Matroska:
      return "matroska";
  }
  return "mp4";
}

// The output container, written through the caller's descriptor.
class Muxer {
 public:
  explicit Muxer(const ShareJob& job) : output_(job.OutputFd), name_(job.OutputName) {
    if (avformat_alloc_output_context2(&context_, nullptr, MuxerName(job.Kind), nullptr) < 0)
      throw std::bad_alloc();
    context_->pb = output_.Context();
    context_->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The MP4 muxer reads its own output back to put the index in front.
    const QByteArray url = "file:" + QFile::encodeName(job.OutputPath);
    context_->url = av_strdup(url.constData());
    if (!context_->url) throw std::bad_alloc();
  }
  ~Muxer() { avformat_free_context(context_); }
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  AVFormatContext* Context() const { return context_; }

  void Begin(bool faststart) {
    AVDictionary* options = nullptr;
    if (faststart) av_dict_set(&options, "movflags", "+faststart", 0);
    const int result = avformat_write_header(context_, &options);
    av_dict_free(&options);
    Check(result);
  }
  void Write(AVPacket* packet) { Check(av_interleaved_write_frame(context_, packet)); }
  void End() {
    Check(av_write_trailer(context_));
    avio_flush(context_->pb);
    Check(context_->pb->error);
  }

 private:
  void Check(int result) const {
    if (result >= 0) return;
    const std::string why = output_.Failure().empty() ? ErrorText(result) : output_.Failure();
    throw MediaError("Can not write " + name_.toStdString() + ": " + why);
  }

  FileOutput output_;
  QString name_;
  AVFormatContext* context_ = nullptr;
};

// Pictures encoded anew: each kept picture once, stamped with the time it shows; a packet
// goes out once the next picture has told how long it lasts.
class PictureEncoder {
 public:
  PictureEncoder(const ShareJob& job, const AVStream* input, AVFormatContext* output) {
    const bool vp9 = job.Kind == ShareKind::WebM;
    const AVCodec* codec = avcodec_find_encoder_by_name(vp9 ? "libvpx-vp9" : "libx264");
    if (!codec)
      throw MediaError(vp9 ? "The VP9 encoder is missing" : "The H264 encoder is missing");
    context_.reset(avcodec_alloc_context3(codec));
    if (!context_) throw std::bad_alloc();
    AVCodecContext* c = context_.get();
    c->width = job.Width;
    c->height = job.Height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = kMilliseconds;
    c->framerate = input->avg_frame_rate.num > 0 ? input->avg_frame_rate : AVRational{15, 1};
    // The key-frame distance stays the encoder's own (x264: 250 pictures): a screen changes
    // little, and key frames cost most.
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_SMPTE170M;
    c->thread_count = std::max(1, av_cpu_count());
    if (vp9) {
      av_opt_set(c->priv_data, "deadline", "realtime", 0);
      av_opt_set_int(c->priv_data, "cpu-used", kVp9Speed, 0);
      av_opt_set_int(c->priv_data, "row-mt", 1, 0);
      av_opt_set_int(c->priv_data, "crf", kVp9Quality, 0);
      c->bit_rate = 0;
    } else {
      av_opt_set(c->priv_data, "preset", "veryfast", 0);
      av_opt_set_double(c->priv_data, "crf", kX264RateFactor, 0);
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, codec, nullptr) < 0)
      throw MediaError("The picture encoder can not be opened");
    stream_ = avformat_new_stream(output, nullptr);
    if (!stream_) throw std::bad_alloc();
    stream_->time_base = kMilliseconds;
    if (avcodec_parameters_from_context(stream_->codecpar, c) < 0) throw std::bad_alloc();
    scaler_.emplace(job.Width, job.Height, AV_PIX_FMT_YUV420P);
  }

  void Add(const AVFrame* picture, double time, Muxer& muxer) {
    int64_t stamp = std::llround(time * 1000);
    if (last_ && stamp <= *last_) stamp = *last_ + 1;
    if (last_) durations_[*last_] = stamp - *last_;
    last_ = stamp;
    scaler_->Convert(picture, converted_.get());
    converted_->pts = stamp;
    Send(converted_.get(), muxer);
  }

  void Finish(double end, Muxer& muxer) {
    if (last_) durations_[*last_] = std::max<int64_t>(1, std::llround(end * 1000) - *last_);
    Send(nullptr, muxer);
    Release(muxer);
  }

 private:
  void Send(AVFrame* frame, Muxer& muxer) {
    if (avcodec_send_frame(context_.get(), frame) < 0)
      throw MediaError("The picture encoder failed");
    for (;;) {
      PacketPtr packet = NewPacket();
      if (avcodec_receive_packet(context_.get(), packet.get()) < 0) break;
      packet->stream_index = stream_->index;
      waiting_.push_back(std::move(packet));
    }
    Release(muxer);
  }
  // Writes the packets whose pictures' lengths are known, in their order.
  void Release(Muxer& muxer) {
    while (!waiting_.empty()) {
      AVPacket* packet = waiting_.front().get();
      const auto duration = durations_.find(packet->pts);
      if (duration == durations_.end()) break;
      packet->duration = duration->second;
      av_packet_rescale_ts(packet, kMilliseconds, stream_->time_base);
      muxer.Write(packet);
      waiting_.pop_front();
    }
  }

  CodecPtr context_;
  AVStream* stream_ = nullptr;
  std::optional<PictureScaler> scaler_;
  FramePtr converted_ = NewFrame();
  std::optional<int64_t> last_;
  std::map<int64_t, int64_t> durations_;
  std::deque<PacketPtr> waiting_;
};

// H264 pictures copied as they are: the parameter sets go into the stream's header, and
// each picture lasts until the next one that has data.
class PictureCopier {
 public:
  PictureCopier(const AVStream* input, AVFormatContext* output) : input_(input) {
    stream_ = avformat_new_stream(output, nullptr);
    if (!stream_ || avcodec_parameters_copy(stream_->codecpar, input->codecpar) < 0)
      throw std::bad_alloc();
    stream_->codecpar->codec_tag = 0;
    stream_->time_base = input->time_base;
  }

  // The parameter sets from the first key frame, for a stream whose header has none.
  void TakeParameters(const AVPacket* key) {
    if (stream_->codecpar->extradata_size > 0) return;
    const AVBitStreamFilter* extract = av_bsf_get_by_name("extract_extradata");
    AVBSFContext* raw = nullptr;
    if (!extract || av_bsf_alloc(extract, &raw) < 0) throw std::bad_alloc();
    FilterPtr filter(raw);
    avcodec_parameters_copy(filter->par_in, input_->codecpar);
    filter->time_base_in = input_->time_base;
    PacketPtr packet = NewPacket();
    if (av_bsf_init(raw) < 0 || av_packet_ref(packet.get(), key) < 0 ||
        av_bsf_send_packet(raw, packet.get()) < 0 || av_bsf_receive_packet(raw, packet.get()) < 0)
      throw MediaError("The recording's H264 pictures carry no parameter sets");
    size_t size = 0;
    const uint8_t* data = av_packet_get_side_data(packet.get(), AV_PKT_DATA_NEW_EXTRADATA, &size);
    if (!data || size == 0)
      throw MediaError("The recording's H264 pictures carry no parameter sets");
    stream_->codecpar->extradata =
        static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!stream_->codecpar->extradata) throw std::bad_alloc();
    std::copy(data, data + size, stream_->codecpar->extradata);
    stream_->codecpar->extradata_size = int(size);
  }

  void Add(const AVPacket* packet, int64_t stamp, int64_t cut, Muxer& muxer) {
    if (held_) {
      held_->duration = stamp - cut - held_->pts;
      Write(muxer);
    }
    held_ = NewPacket();
    if (av_packet_ref(held_.get(), packet) < 0) throw std::bad_alloc();
    held_->pts = held_->dts = stamp - cut;
    held_->stream_index = stream_->index;
  }

  void Finish(int64_t end, Muxer& muxer) {
    if (!held_) return;
    held_->duration = std::max<int64_t>(1, end - held_->pts);
    Write(muxer);
  }

 private:
  void Write(Muxer& muxer) {
    av_packet_rescale_ts(held_.get(), input_->time_base, stream_->time_base);
    muxer.Write(held_.get());
    held_.reset();
  }

  const AVStream* input_;
  AVStream* stream_ = nullptr;
  PacketPtr held_;
};

int64_t StampOf(const AVPacket* packet) {
  return packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
}

const char* SoundEncoderFor(ShareKind kind, const AVStream* sound) {
  if (kind == ShareKind::Mp4) return "aac";
  if (kind == ShareKind::Matroska && sound->codecpar->codec_id == AV_CODEC_ID_PCM_S16LE)
    return "pcm_s16le";
  return "libopus";
}

}  // namespace

void ShareableWriter::Write(const QString& recording, const ShareJob& job,
                            const MediaProgress& progress) {
  AviDemuxer demuxer(recording);
  AVStream* video = demuxer.Video();
  AVStream* sound = demuxer.Sound();
  Muxer muxer(job);
  AVFormatContext* output = muxer.Context();
  const double tick = av_q2d(video->time_base);
  const double span = std::max(job.To - job.From, 1e-3);
  const auto tell = [&](double seconds) {
    if (progress && !progress(std::clamp((seconds - job.From) / span, 0.0, 1.0)))
      throw MediaCancelled();
  };

  demuxer.SeekTo(job.From);
  PacketPtr packet = NewPacket();
  // Packets read before the header could be written: the sound that comes before the first
  // key frame.
  std::deque<PacketPtr> early;
  std::optional<PictureCopier> copier;
  std::optional<PictureEncoder> encoder;
  double from = job.From;
  int64_t cut = 0;
  if (job.CopyVideo) {
    if (video->codecpar->codec_id != AV_CODEC_ID_H264)
      throw MediaError("Only H264 pictures are copied unchanged");
    copier.emplace(video, output);
    bool found = false;
    while (!found && demuxer.Read(packet.get())) {
      if (packet->stream_index == video->index) {
        found = packet->size > 0 && (packet->flags & AV_PKT_FLAG_KEY) &&
                StampOf(packet.get()) != AV_NOPTS_VALUE;
        if (!found) continue;
      }
      PacketPtr kept = NewPacket();
      if (av_packet_ref(kept.get(), packet.get()) < 0) throw std::bad_alloc();
      early.push_back(std::move(kept));
    }
    if (!found) throw MediaError(recording.toStdString() + " has no pictures to copy");
    copier->TakeParameters(early.back().get());
    // The copy starts at the key frame: the sound starts there too.
    cut = StampOf(early.back().get());
    from = double(cut) * tick;
  } else {
    encoder.emplace(job, video, output);
  }
  std::optional<SoundTranscoder> transcoder;
  if (sound) transcoder.emplace(sound, SoundEncoderFor(job.Kind, sound), output, from, job.To);
  if (transcoder) transcoder->Open(output);
  muxer.Begin(job.Kind == ShareKind::Mp4);
  const auto write = [&](AVPacket* out) { muxer.Write(out); };

  std::optional<PictureDecoder> decoder;
  std::optional<ScheduledPictures> pictures;
  if (encoder) {
    decoder.emplace(video);
    pictures.emplace(*job.Schedule, [&](const AVFrame* picture, double time) {
      encoder->Add(picture, time, muxer);
    });
  }
  const auto decoded = [&](AVFrame* picture, int64_t stamp) {
    pictures->Add(picture, AviDemuxer::Seconds(video, stamp));
  };
  const int64_t end = std::llround(job.To / tick);
  bool picturesDone = false;
  bool soundDone = !transcoder;
  const auto take = [&](AVPacket* in) {
    const int64_t stamp = StampOf(in);
    if (in->stream_index == video->index) {
      if (picturesDone || in->size <= 0 || stamp == AV_NOPTS_VALUE) return;
      tell(double(stamp) * tick);
      if (copier) {
        if (stamp >= end) {
          picturesDone = true;
          return;
        }
        if (stamp >= cut) copier->Add(in, stamp, cut, muxer);
      } else {
        decoder->Decode(in, decoded);
        picturesDone = pictures->Done();
      }
    } else if (transcoder && !soundDone) {
      transcoder->Add(in, write);
      soundDone = stamp != AV_NOPTS_VALUE && AviDemuxer::Seconds(sound, stamp) > job.To + 1;
    }
  };
  for (PacketPtr& kept : early) take(kept.get());
  early.clear();
  while ((!picturesDone || !soundDone) && demuxer.Read(packet.get())) take(packet.get());

  if (copier) {
    copier->Finish(end - cut, muxer);
  } else {
    if (!pictures->Done()) decoder->Finish(decoded);
    pictures->Finish(job.To);
    encoder->Finish(job.To - job.From, muxer);
  }
  if (transcoder) transcoder->Finish(write);
  muxer.End();
}

}  // namespace qm
