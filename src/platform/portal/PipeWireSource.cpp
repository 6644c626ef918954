#include "platform/portal/PipeWireSource.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace qm {

namespace {

constexpr int32_t kMaxSide = 16384;
constexpr uint32_t kMaxCursorSide = 256;
constexpr uint32_t kMaxDamageRegions = 32;

// The byte places of blue, green and red inside one 32-bit pixel of a layout.
struct Layout {
  spa_video_format Format;
  int Blue, Green, Red;
};
constexpr Layout kLayouts[] = {
    {SPA_VIDEO_FORMAT_BGRx, 0, 1, 2}, {SPA_VIDEO_FORMAT_BGRA, 0, 1, 2},
    {SPA_VIDEO_FORMAT_RGBx, 2, 1, 0}, {SPA_VIDEO_FORMAT_RGBA, 2, 1, 0},
    {SPA_VIDEO_FORMAT_xRGB, 3, 2, 1}, {SPA_VIDEO_FORMAT_xBGR, 1, 2, 3},
};
// The cursor bitmaps' layouts: blue, green, red, alpha places.
struct CursorLayout {
  uint32_t Format;
  int Blue, Green, Red, Alpha;
};
constexpr CursorLayout kCursorLayouts[] = {
    {SPA_VIDEO_FORMAT_BGRA, 0, 1, 2, 3},
    {SPA_VIDEO_FORMAT_RGBA, 2, 1, 0, 3},
    {SPA_VIDEO_FORMAT_ARGB, 3, 2, 1, 0},
    {SPA_VIDEO_FORMAT_ABGR, 1, 2, 3, 0},
};

const Layout* LayoutOf(uint32_t format) {
  for (const Layout& layout : kLayouts)
    if (layout.Format == format) return &layout;
  return nullptr;
}

const spa_pod* MetaParam(spa_pod_builder& b, spa_meta_type type, int size) {
  return static_cast<const spa_pod*>(
      spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                                 SPA_POD_Id(type), SPA_PARAM_META_size, SPA_POD_Int(size)));
}

const spa_pod* MetaParamRange(spa_pod_builder& b, spa_meta_type type, int size, int low, int high) {
  return static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(type),
      SPA_PARAM_META_size, SPA_POD_CHOICE_RANGE_Int(size, low, high)));
}

}  // namespace

// The PipeWire objects, all used on PipeWire's thread (or under its lock).
struct PipeWireSource::Stream {
  explicit Stream(PipeWireSource& owner) : Owner(owner) {}

  PipeWireSource& Owner;
  pw_thread_loop* Loop = nullptr;
  pw_context* Context = nullptr;
  pw_core* Core = nullptr;
  pw_stream* Video = nullptr;
  pw_registry* Registry = nullptr;
  uint32_t Node = 0;
  spa_hook CoreListener{};
  spa_hook RegistryListener{};
  spa_hook StreamListener{};
  const Layout* Format = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  bool Streaming = false;
  Rect LastCrop;
  // The buffer readers see in place; out of the stream until a newer picture replaces it.
  pw_buffer* Kept = nullptr;

  void OnParamChanged(uint32_t id, const spa_pod* param);
  void OnState(pw_stream_state state);
  void OnProcess();
  void OnRemoveBuffer(pw_buffer* buffer);
  // Makes the buffer's picture the newest. True when the buffer is kept for readers; false
  // when it may go back to the stream.
  bool Take(pw_buffer* buffer);
  void TakeCursor(const spa_buffer& buffer);
  // The steps of Take: the part of the buffer that is the picture (its crop report); a copy in
  // blue, green, red order; the damage report moved into the cropped picture. Their caller
  // holds the source's lock for the last.
  Rect CropOf(const spa_buffer& buffer) const;
  void CopyInOrder(const uint8_t* first, int32_t stride, int32_t w, int32_t h,
                   std::vector<uint8_t>& to) const;
  static void NoteDamage(const spa_meta& damage, const Rect& crop, SourcePicture& picture);
};

void PipeWireSource::Stream::OnParamChanged(uint32_t id, const spa_pod* param) {
  if (id != SPA_PARAM_Format || !param) return;
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0) return;
  Format = LayoutOf(info.format);
  if (!Format || info.size.width == 0 || info.size.height == 0 ||
      info.size.width > uint32_t(kMaxSide) || info.size.height > uint32_t(kMaxSide)) {
    Format = nullptr;
    return;
  }
  Width = int32_t(info.size.width);
  Height = int32_t(info.size.height);

  uint8_t space[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
  const spa_pod* params[5];
  // Shared memory only: the compositor copies into it when its consumer takes no DMA-BUF.
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
      SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
  params[1] = MetaParam(b, SPA_META_Header, int(sizeof(spa_meta_header)));
  params[2] = MetaParam(b, SPA_META_VideoCrop, int(sizeof(spa_meta_region)));
  params[3] = MetaParamRange(
      b, SPA_META_VideoDamage, int(sizeof(spa_meta_region) * kMaxDamageRegions),
      int(sizeof(spa_meta_region)), int(sizeof(spa_meta_region) * kMaxDamageRegions));
  const int cursorSize = int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 64 * 64 * 4);
  params[4] = MetaParamRange(
      b, SPA_META_Cursor, cursorSize, int(sizeof(spa_meta_cursor)),
      int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kMaxCursorSide * kMaxCursorSide * 4));
  pw_stream_update_params(Video, params, 5);
}

void PipeWireSource::Stream::OnState(pw_stream_state state) {
  if (state == PW_STREAM_STATE_STREAMING) Streaming = true;
  // A stream that was running and stops, or fails, has ended for good: the desktop stopped
  // sharing, or PipeWire went away.
  if (state == PW_STREAM_STATE_ERROR || (Streaming && state == PW_STREAM_STATE_UNCONNECTED))
    Owner.End();
}

void PipeWireSource::Stream::OnProcess() {
  // Only the newest buffer counts; older ones go back at once.
  pw_buffer* newest = nullptr;
  while (pw_buffer* b = pw_stream_dequeue_buffer(Video)) {
    if (newest) {
      // A cursor's shape comes once, with the buffer of its change: it is kept all the same.
      std::lock_guard lock(Owner.mutex_);
      TakeCursor(*newest->buffer);
      pw_stream_queue_buffer(Video, newest);
    }
    newest = b;
  }
  if (!newest) return;
  pw_buffer* previous = Kept;
  if (!Take(newest)) pw_stream_queue_buffer(Video, newest);
  // The buffer kept before goes back once readers see another picture.
  if (previous && previous != Kept) pw_stream_queue_buffer(Video, previous);
}

void PipeWireSource::Stream::OnRemoveBuffer(pw_buffer* buffer) {
  if (buffer != Kept) return;
  // The stream takes its buffers back (a new format, or the end): the picture moves into a
  // block of our own, so readers keep the last one.
  std::lock_guard lock(Owner.mutex_);
  SourcePicture& picture = Owner.picture_;
  std::vector<uint8_t>& front = Owner.front_;
  front.resize(size_t(picture.Width) * size_t(picture.Height) * 4);
  for (int32_t y = 0; y < picture.Height; ++y)
    std::memcpy(front.data() + size_t(y) * size_t(picture.Width) * 4,
                picture.Bits + size_t(y) * picture.Stride, size_t(picture.Width) * 4);
  picture.Bits = front.data();
  picture.Stride = uint32_t(picture.Width) * 4;
  Kept = nullptr;
}

void PipeWireSource::Stream::TakeCursor(const spa_buffer& buffer) {
  SourceCursor& cursor = Owner.picture_.Cursor;
  auto* meta = static_cast<spa_meta_cursor*>(
      spa_buffer_find_meta_data(&buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
  if (!meta) return;
  cursor.Known = true;
  if (cursor.Shape == 0) cursor.Shape = ++Owner.cursorShape_;
  // Id 0: no news of the cursor in this buffer.
  if (meta->id == 0) return;
  cursor.Position = Point{meta->position.x, meta->position.y};
  cursor.HotSpot = Point{meta->hotspot.x, meta->hotspot.y};
  if (meta->bitmap_offset == 0) return;
  const spa_meta* whole = spa_buffer_find_meta(&buffer, SPA_META_Cursor);
  if (!whole || meta->bitmap_offset > whole->size ||
      whole->size - meta->bitmap_offset < sizeof(spa_meta_bitmap))
    return;
  const auto* bitmap = SPA_PTROFF(meta, meta->bitmap_offset, const spa_meta_bitmap);
  const uint32_t w = bitmap->size.width, h = bitmap->size.height;
  const CursorLayout* layout = nullptr;
  for (const CursorLayout& l : kCursorLayouts)
    if (l.Format == bitmap->format) layout = &l;
  // An empty bitmap hides the cursor.
  if (w == 0 || h == 0) {
    cursor.Visible = false;
    return;
  }
  const size_t available = whole->size - meta->bitmap_offset;
  if (!layout || w > kMaxCursorSide || h > kMaxCursorSide || bitmap->stride < int32_t(w * 4) ||
      bitmap->offset > available ||
      (available - bitmap->offset) < size_t(bitmap->stride) * (h - 1) + w * 4)
    return;
  const auto* pixels = SPA_PTROFF(bitmap, bitmap->offset, const uint8_t);
  cursor.Width = int32_t(w);
  cursor.Height = int32_t(h);
  cursor.Pixels.resize(size_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* from = pixels + size_t(y) * size_t(bitmap->stride);
    uint8_t* to = cursor.Pixels.data() + size_t(y) * w * 4;
    for (uint32_t x = 0; x < w; ++x, from += 4, to += 4) {
      to[0] = from[layout->Blue];
      to[1] = from[layout->Green];
      to[2] = from[layout->Red];
      to[3] = from[layout->Alpha];
    }
  }
  cursor.Visible = true;
  cursor.Shape = ++Owner.cursorShape_;
}

Rect PipeWireSource::Stream::CropOf(const spa_buffer& buffer) const {
  Rect crop{0, 0, Width, Height};
  const auto* region = static_cast<const spa_meta_region*>(
      spa_buffer_find_meta_data(&buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
  if (!region) return crop;
  const spa_region& r = region->region;
  if (r.size.width > 0 && r.size.height > 0 && r.position.x >= 0 && r.position.y >= 0 &&
      int64_t(r.position.x) + r.size.width <= Width &&
      int64_t(r.position.y) + r.size.height <= Height)
    crop = Rect{r.position.x, r.position.y, r.position.x + int32_t(r.size.width),
                r.position.y + int32_t(r.size.height)};
  return crop;
}

void PipeWireSource::Stream::CopyInOrder(const uint8_t* first, int32_t stride, int32_t w, int32_t h,
                                         std::vector<uint8_t>& to) const {
  const Layout& layout = *Format;
  to.resize(size_t(w) * size_t(h) * 4);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* from = first + size_t(y) * size_t(stride);
    uint8_t* out = to.data() + size_t(y) * size_t(w) * 4;
    for (int32_t x = 0; x < w; ++x, from += 4, out += 4) {
      out[0] = from[layout.Blue];
      out[1] = from[layout.Green];
      out[2] = from[layout.Red];
      out[3] = 0;
    }
  }
}

void PipeWireSource::Stream::NoteDamage(const spa_meta& damage, const Rect& crop,
                                        SourcePicture& picture) {
  const int32_t w = crop.Width(), h = crop.Height();
  const auto* regions = static_cast<const spa_meta_region*>(damage.data);
  const size_t count = damage.size / sizeof(spa_meta_region);
  for (size_t i = 0; i < count; ++i) {
    const spa_region& r = regions[i].region;
    if (r.size.width == 0 || r.size.height == 0) break;
    const int64_t left = int64_t(r.position.x) - crop.Left;
    const int64_t top = int64_t(r.position.y) - crop.Top;
    const auto clamp = [](int64_t v, int32_t high) {
      return int32_t(std::clamp<int64_t>(v, 0, high));
    };
    picture.Changed.push_back(Rect{clamp(left, w), clamp(top, h),
                                   clamp(left + int64_t(r.size.width), w),
                                   clamp(top + int64_t(r.size.height), h)});
    if (picture.Changed.size() > 256) {
      picture.WhollyChanged = true;
      picture.Changed.clear();
      break;
    }
  }
}

bool PipeWireSource::Stream::Take(pw_buffer* taken) {
  const spa_buffer& buffer = *taken->buffer;
  if (!Format || buffer.n_datas < 1) return false;
  const spa_data& data = buffer.datas[0];
  if (!data.data || !data.chunk) return false;
  if (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) return false;
  if (auto* header = static_cast<spa_meta_header*>(
          spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header))))
    if (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) return false;

  const int32_t stride = data.chunk->stride != 0 ? data.chunk->stride : Width * 4;
  const size_t offset = data.chunk->offset % std::max<uint32_t>(data.maxsize, 1);
  if (stride < Width * 4 || offset + size_t(stride) * size_t(Height) > data.maxsize) return false;
  const uint8_t* base = static_cast<const uint8_t*>(data.data) + offset;

  const Rect crop = CropOf(buffer);
  const int32_t w = crop.Width(), h = crop.Height();

  // A buffer whose damage report names nothing repeats the picture kept: only its cursor news
  // count. (Only this thread changes the picture's size, so reading it needs no lock.)
  const spa_meta* damage = spa_buffer_find_meta(&buffer, SPA_META_VideoDamage);
  if (damage && damage->size >= sizeof(spa_meta_region) &&
      static_cast<const spa_meta_region*>(damage->data)->region.size.width == 0 &&
      crop == LastCrop && Owner.picture_.Width == w && Owner.picture_.Height == h &&
      Owner.picture_.Sequence > 0) {
    std::lock_guard lock(Owner.mutex_);
    TakeCursor(buffer);
    return false;
  }

  // Blue, green, red order is read in place; other orders are copied in that order.
  const Layout& layout = *Format;
  const bool inPlace = layout.Blue == 0 && layout.Green == 1 && layout.Red == 2;
  const uint8_t* const first = base + size_t(crop.Top) * size_t(stride) + size_t(crop.Left) * 4;
  std::vector<uint8_t>& back = Owner.back_;
  if (!inPlace) CopyInOrder(first, stride, w, h, back);

  std::lock_guard lock(Owner.mutex_);
  SourcePicture& picture = Owner.picture_;
  if (inPlace) {
    Kept = taken;
    picture.Bits = first;
    picture.Stride = uint32_t(stride);
  } else {
    std::swap(Owner.front_, back);
    Kept = nullptr;
    picture.Bits = Owner.front_.data();
    picture.Stride = uint32_t(w) * 4;
  }
  const bool resized = picture.Width != w || picture.Height != h || !(crop == LastCrop);
  LastCrop = crop;
  picture.Width = w;
  picture.Height = h;
  ++picture.Sequence;
  // What changed: the damage report, moved into the cropped picture; all of it without one.
  if (resized || !damage) {
    picture.WhollyChanged = true;
    picture.Changed.clear();
  } else if (!picture.WhollyChanged) {
    NoteDamage(*damage, crop, picture);
  }
  TakeCursor(buffer);
  Owner.arrived_.notify_all();
  return inPlace;
}

PipeWireSource::PipeWireSource(int fd, uint32_t node) : stream_(std::make_unique<Stream>(*this)) {
  static const bool initialised = [] {
    pw_init(nullptr, nullptr);
    return true;
  }();
  (void)initialised;
  Stream& s = *stream_;
  s.Loop = pw_thread_loop_new("quillmark-screen", nullptr);
  if (!s.Loop) {
    close(fd);
    ended_ = true;
    return;
  }
  s.Context = pw_context_new(pw_thread_loop_get_loop(s.Loop), nullptr, 0);
  if (!s.Context) {
    close(fd);
    ended_ = true;
    return;
  }
  pw_thread_loop_lock(s.Loop);
  s.Core = pw_context_connect_fd(s.Context, fd, nullptr, 0);
  if (s.Core) {
    static const pw_core_events coreEvents = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.error = [](void* self, uint32_t id, int, int res, const char*) {
        if (id != PW_ID_CORE) return;
        // A broken connection is PipeWire gone; it is told before the stream hears of it.
        PipeWireSource& owner = static_cast<Stream*>(self)->Owner;
        if (res == -EPIPE) {
          std::lock_guard lock(owner.mutex_);
          owner.lost_ = !owner.ended_;
        }
        owner.End();
      };
      return e;
    }();
    pw_core_add_listener(s.Core, &s.CoreListener, &coreEvents, &s);
    // The desktop's node removed while PipeWire runs on (its producer ended or crashed) ends
    // the sharing as the desktop's own stop does; the stream alone would just wait.
    s.Node = node;
    s.Registry = pw_core_get_registry(s.Core, PW_VERSION_REGISTRY, 0);
    if (s.Registry) {
      static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global_remove = [](void* self, uint32_t id) {
          auto* stream = static_cast<Stream*>(self);
          if (id == stream->Node) stream->Owner.End();
        };
        return e;
      }();
      pw_registry_add_listener(s.Registry, &s.RegistryListener, &registryEvents, &s);
    }
    s.Video = pw_stream_new(s.Core, "quillmark",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                              "Capture", PW_KEY_MEDIA_ROLE, "Screen",
                                              // never linked to another source in its place
                                              PW_KEY_NODE_DONT_RECONNECT, "true", nullptr));
  }
  if (s.Video) {
    static const pw_stream_events streamEvents = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char*) {
        static_cast<Stream*>(self)->OnState(state);
      };
      e.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
        static_cast<Stream*>(self)->OnParamChanged(id, param);
      };
      e.process = [](void* self) { static_cast<Stream*>(self)->OnProcess(); };
      e.remove_buffer = [](void* self, pw_buffer* buffer) {
        static_cast<Stream*>(self)->OnRemoveBuffer(buffer);
      };
      return e;
    }();
    pw_stream_add_listener(s.Video, &s.StreamListener, &streamEvents, &s);
    const uint32_t nodeId = node;
    uint8_t space[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
    const spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    const spa_rectangle maxSize = SPA_RECTANGLE(uint32_t(kMaxSide), uint32_t(kMaxSide));
    const spa_fraction defaultRate = SPA_FRACTION(30, 1);
    const spa_fraction minRate = SPA_FRACTION(0, 1);
    const spa_fraction maxRate = SPA_FRACTION(1000, 1);
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(7, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA,
                               SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_xBGR),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)))};
    if (pw_stream_connect(s.Video, PW_DIRECTION_INPUT, nodeId,
                          pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                          params, 1) < 0) {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
  } else {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  pw_thread_loop_unlock(s.Loop);
}

PipeWireSource::~PipeWireSource() {
  Stream& s = *stream_;
  if (s.Loop) pw_thread_loop_stop(s.Loop);
  if (s.Video) pw_stream_destroy(s.Video);
  if (s.Registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s.Registry));
  if (s.Core) pw_core_disconnect(s.Core);
  if (s.Context) pw_context_destroy(s.Context);
  if (s.Loop) pw_thread_loop_destroy(s.Loop);
}

bool PipeWireSource::Start(int timeoutMs) {
  if (stream_->Loop && pw_thread_loop_start(stream_->Loop) < 0) End();
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [this] { return ended_ || picture_.Sequence > 0; });
  return !ended_ && picture_.Sequence > 0;
}

void PipeWireSource::End() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  arrived_.notify_all();
}

bool PipeWireSource::Read(const std::function<void(const SourcePicture&)>& read) {
  std::lock_guard lock(mutex_);
  if (ended_ || picture_.Sequence == 0) return false;
  read(picture_);
  picture_.WhollyChanged = false;
  picture_.Changed.clear();
  return true;
}

bool PipeWireSource::Lost() {
  std::lock_guard lock(mutex_);
  return lost_;
}

Rect PipeWireSource::Bounds() {
  std::lock_guard lock(mutex_);
  if (ended_) return Rect();
  return Rect{0, 0, picture_.Width, picture_.Height};
}

}  // namespace qm
