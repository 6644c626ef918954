// A stand-in for a compositor's screen-cast backend: it serves
// org.freedesktop.impl.portal.ScreenCast and org.freedesktop.impl.portal.Session on the session
// bus for the desktop portal program, and publishes a PipeWire Video/Source node whose pictures
// are known to the tests. What it does is read from a control file (its first argument) at every
// CreateSession, as "key=value" lines:
//   response=0|1|2      the answer to Start (0 shares, 1 refused, 2 cancelled)
//   format=BGRx|RGBx    the pixel format offered
//   size=WxH            the picture's size
//   crop=X,Y,W,H        crop metadata on every buffer (the picture is the pattern of the region)
//   cursor=X,Y          cursor metadata: a 16x16 bitmap with its hot spot at (2,2)
//   still=1             the pattern stands still; only the bottom-right pixel changes, and the
//                       damage metadata names only that pixel
//   still=2             nothing changes, and the damage metadata names nothing
//   stop_after=MS       the desktop stops sharing MS milliseconds after Start
//   resize_after=MS,WxH the picture changes its size MS milliseconds after Start
//   vanish_after=MS     the node goes MS milliseconds after Start, the session staying open
//   exit_after=MS       the backend's process ends MS milliseconds after Start (and a new one
//                       takes its place on the bus, as a desktop restarts a crashed portal)
// Each event is appended to the log file (second argument): "dialog" when a session starts
// without restore data, "restored" when it starts with the data of an earlier session, each
// followed by the source types the client asked for ("dialog types=3"). A session asked for
// windows only shares a window.
//
// The picture of frame n at (x, y): blue (x + 3n), green (y + 5n), red n, all modulo 256.

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

struct IntPair {
  int A = 0;
  int B = 0;
};
Q_DECLARE_METATYPE(IntPair)

QDBusArgument& operator<<(QDBusArgument& arg, const IntPair& p) {
  arg.beginStructure();
  arg << p.A << p.B;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, IntPair& p) {
  arg.beginStructure();
  arg >> p.A >> p.B;
  arg.endStructure();
  return arg;
}

struct StreamEntry {
  uint Node = 0;
  QVariantMap Properties;
};
Q_DECLARE_METATYPE(StreamEntry)

QDBusArgument& operator<<(QDBusArgument& arg, const StreamEntry& s) {
  arg.beginStructure();
  arg << s.Node << s.Properties;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, StreamEntry& s) {
  arg.beginStructure();
  arg >> s.Node >> s.Properties;
  arg.endStructure();
  return arg;
}

struct RestoreData {
  QString Vendor;
  uint Version = 0;
  QDBusVariant Data;
};
Q_DECLARE_METATYPE(RestoreData)

QDBusArgument& operator<<(QDBusArgument& arg, const RestoreData& r) {
  arg.beginStructure();
  arg << r.Vendor << r.Version << r.Data;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, RestoreData& r) {
  arg.beginStructure();
  arg >> r.Vendor >> r.Version >> r.Data;
  arg.endStructure();
  return arg;
}

namespace {

char** gArgv = nullptr;
constexpr int kCursorSize = 16;
constexpr int kFps = 30;

struct Control {
  uint Response = 0;
  bool Rgb = false;
  int Width = 320;
  int Height = 240;
  bool Crop = false;
  int CropX = 0, CropY = 0, CropW = 0, CropH = 0;
  bool Cursor = false;
  int CursorX = 0, CursorY = 0;
  int Still = 0;
  int StopAfter = -1;
  int ResizeAfter = -1;
  int VanishAfter = -1;
  int ExitAfter = -1;
  int NewWidth = 0, NewHeight = 0;
};

Control ReadControl(const QString& path) {
  Control c;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return c;
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QByteArray line = raw.trimmed();
    const int eq = int(line.indexOf('='));
    if (eq < 0) continue;
    const QByteArray key = line.left(eq), value = line.mid(eq + 1);
    const QList<QByteArray> parts = value.split(',');
    auto num = [&](int i) { return i < parts.size() ? parts[i].toInt() : 0; };
    auto size = [](const QByteArray& text, int& w, int& h) {
      const QList<QByteArray> wh = text.split('x');
      if (wh.size() == 2) w = wh[0].toInt(), h = wh[1].toInt();
    };
    if (key == "response") c.Response = value.toUInt();
    if (key == "format") c.Rgb = value == "RGBx";
    if (key == "size") size(value, c.Width, c.Height);
    if (key == "crop")
      c.Crop = true, c.CropX = num(0), c.CropY = num(1), c.CropW = num(2), c.CropH = num(3);
    if (key == "cursor") c.Cursor = true, c.CursorX = num(0), c.CursorY = num(1);
    if (key == "still") c.Still = value.toInt();
    if (key == "stop_after") c.StopAfter = value.toInt();
    if (key == "vanish_after") c.VanishAfter = value.toInt();
    if (key == "exit_after") c.ExitAfter = value.toInt();
    if (key == "resize_after") {
      c.ResizeAfter = num(0);
      if (parts.size() > 1) size(parts[1], c.NewWidth, c.NewHeight);
    }
  }
  return c;
}

void Log(const QString& path, const QByteArray& line) {
  QFile file(path);
  if (!file.open(QIODevice::Append)) return;
  file.write(line);
  file.write("\n");
}

// The PipeWire side: one output stream that drives itself at kFps.
class VideoSource {
 public:
  explicit VideoSource(const Control& control) : control_(control) {
    loop_ = pw_thread_loop_new("screencast-backend", nullptr);
    pw_thread_loop_lock(loop_);
    pw_thread_loop_start(loop_);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (!core_) {
      pw_thread_loop_unlock(loop_);
      return;
    }
    stream_ = pw_stream_new(
        core_, "quillmark-test-screen",
        pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                          PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.process = [](void* self) { static_cast<VideoSource*>(self)->Process(); };
      e.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
        static_cast<VideoSource*>(self)->ParamChanged(id, param);
      };
      return e;
    }();
    pw_stream_add_listener(stream_, &listener_, &events, this);
    width_ = control.Width;
    height_ = control.Height;
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1] = {FormatPod(b)};
    pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params,
                      1);
    timer_ = pw_loop_add_timer(
        pw_thread_loop_get_loop(loop_),
        [](void* self, uint64_t) {
          auto* source = static_cast<VideoSource*>(self);
          if (source->stream_) pw_stream_trigger_process(source->stream_);
        },
        this);
    timespec value{0, 1000000000L / kFps}, interval = value;
    pw_loop_update_timer(pw_thread_loop_get_loop(loop_), timer_, &value, &interval, false);
    // The node's id is known once the stream is on the server.
    for (int i = 0; i < 200 && pw_stream_get_node_id(stream_) == SPA_ID_INVALID; ++i) {
      pw_thread_loop_timed_wait(loop_, 0);
      pw_thread_loop_unlock(loop_);
      usleep(10000);
      pw_thread_loop_lock(loop_);
    }
    node_ = pw_stream_get_node_id(stream_);
    pw_thread_loop_unlock(loop_);
  }

  ~VideoSource() {
    pw_thread_loop_lock(loop_);
    if (timer_) pw_loop_destroy_source(pw_thread_loop_get_loop(loop_), timer_);
    if (stream_) pw_stream_destroy(stream_);
    if (core_) pw_core_disconnect(core_);
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
  }

  uint32_t Node() const { return node_; }
  int Width() const { return control_.Crop ? control_.CropW : width_; }
  int Height() const { return control_.Crop ? control_.CropH : height_; }

  void Resize(int w, int h) {
    pw_thread_loop_lock(loop_);
    width_ = w;
    height_ = h;
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1] = {FormatPod(b)};
    pw_stream_update_params(stream_, params, 1);
    pw_thread_loop_unlock(loop_);
  }

 private:
  const spa_pod* FormatPod(spa_pod_builder& b) {
    const spa_rectangle size = SPA_RECTANGLE(uint32_t(width_), uint32_t(height_));
    const spa_fraction rate = SPA_FRACTION(kFps, 1);
    const spa_fraction zero = SPA_FRACTION(0, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(control_.Rgb ? SPA_VIDEO_FORMAT_RGBx : SPA_VIDEO_FORMAT_BGRx),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_Fraction(&zero), SPA_FORMAT_VIDEO_maxFramerate, SPA_POD_Fraction(&rate)));
  }

  void ParamChanged(uint32_t id, const spa_pod* param) {
    if (id != SPA_PARAM_Format || !param) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    width_ = int(info.size.width);
    height_ = int(info.size.height);
    cursorBuffers_ = 0;
    const int stride = width_ * 4;
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[5];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * height_), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = MetaPod(b, SPA_META_Header, sizeof(spa_meta_header));
    params[2] = MetaPod(b, SPA_META_VideoCrop, sizeof(spa_meta_region));
    params[3] = MetaPod(b, SPA_META_VideoDamage, sizeof(spa_meta_region) * 4);
    params[4] =
        MetaPod(b, SPA_META_Cursor,
                sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kCursorSize * kCursorSize * 4);
    pw_stream_update_params(stream_, params, 5);
  }

  static const spa_pod* MetaPod(spa_pod_builder& b, spa_meta_type type, size_t size) {
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(type),
        SPA_PARAM_META_size, SPA_POD_Int(int(size))));
  }

  void Process() {
    pw_buffer* b = pw_stream_dequeue_buffer(stream_);
    if (!b) return;
    spa_buffer* buf = b->buffer;
    uint8_t* data = static_cast<uint8_t*>(buf->datas[0].data);
    if (!data) {
      pw_stream_queue_buffer(stream_, b);
      return;
    }
    const uint32_t n = control_.Still ? 0 : frame_;
    const int stride = width_ * 4;
    for (int y = 0; y < height_; ++y) {
      uint8_t* row = data + size_t(y) * size_t(stride);
      for (int x = 0; x < width_; ++x) {
        const uint8_t blue = uint8_t(x + 3 * int(n)), green = uint8_t(y + 5 * int(n)),
                      red = uint8_t(n);
        uint8_t* p = row + x * 4;
        p[0] = control_.Rgb ? red : blue;
        p[1] = green;
        p[2] = control_.Rgb ? blue : red;
        p[3] = 255;
      }
    }
    if (control_.Still == 1) {
      // Only the last pixel changes, and only it is reported as damaged.
      data[size_t(height_) * size_t(stride) - 4] = uint8_t(frame_);
    }
    buf->datas[0].chunk->offset = 0;
    buf->datas[0].chunk->stride = stride;
    buf->datas[0].chunk->size = uint32_t(stride * height_);

    if (auto* h = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)))) {
      h->flags = 0;
      h->offset = 0;
      h->seq = frame_;
      h->pts = int64_t(frame_) * SPA_NSEC_PER_SEC / kFps;
      h->dts_offset = 0;
    }
    if (auto* crop = static_cast<spa_meta_region*>(
            spa_buffer_find_meta_data(buf, SPA_META_VideoCrop, sizeof(spa_meta_region)))) {
      if (control_.Crop)
        crop->region = SPA_REGION(control_.CropX, control_.CropY, uint32_t(control_.CropW),
                                  uint32_t(control_.CropH));
      else
        crop->region = SPA_REGION(0, 0, 0, 0);
    }
    if (spa_meta* damage = spa_buffer_find_meta(buf, SPA_META_VideoDamage)) {
      auto* regions = static_cast<spa_meta_region*>(damage->data);
      const size_t count = damage->size / sizeof(spa_meta_region);
      if (count >= 2) {
        regions[0].region = control_.Still == 2 ? SPA_REGION(0, 0, 0, 0)
                            : control_.Still == 1
                                ? SPA_REGION(width_ - 1, height_ - 1, 1, 1)
                                : SPA_REGION(0, 0, uint32_t(width_), uint32_t(height_));
        regions[1].region = SPA_REGION(0, 0, 0, 0);
      }
    }
    if (auto* cursor = static_cast<spa_meta_cursor*>(
            spa_buffer_find_meta_data(buf, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
      if (!control_.Cursor) {
        cursor->id = 0;
      } else {
        cursor->id = 1;
        cursor->flags = 0;
        cursor->position = SPA_POINT(control_.CursorX, control_.CursorY);
        cursor->hotspot = SPA_POINT(2, 2);
        // The shape goes with the first buffers after the format only, as compositors send it
        // when it changes.
        cursor->bitmap_offset = 0;
        if (cursorBuffers_ < 8) {
          ++cursorBuffers_;
          cursor->bitmap_offset = sizeof(spa_meta_cursor);
          auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
          bitmap->format = SPA_VIDEO_FORMAT_RGBA;
          bitmap->size = SPA_RECTANGLE(kCursorSize, kCursorSize);
          bitmap->stride = kCursorSize * 4;
          bitmap->offset = sizeof(spa_meta_bitmap);
          auto* pixels = SPA_PTROFF(bitmap, bitmap->offset, uint8_t);
          // A white square with a black border, transparent right half.
          for (int y = 0; y < kCursorSize; ++y)
            for (int x = 0; x < kCursorSize; ++x) {
              uint8_t* p = pixels + (y * kCursorSize + x) * 4;
              const bool border = x == 0 || y == 0 || y == kCursorSize - 1 || x == 7;
              const uint8_t v = border ? 0 : 255;
              p[0] = p[1] = p[2] = v;
              p[3] = x < 8 ? 255 : 0;
            }
        }
      }
    }
    ++frame_;
    pw_stream_queue_buffer(stream_, b);
  }

  Control control_;
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  spa_hook listener_{};
  spa_source* timer_ = nullptr;
  uint32_t node_ = SPA_ID_INVALID;
  int width_ = 0;
  int height_ = 0;
  uint32_t frame_ = 0;
  int cursorBuffers_ = 0;  // buffers that carried the cursor's shape since the format was set
};

class Backend;

// One session: exported at the portal's session handle until it is closed.
class Session : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Session")
 public:
  Session(const QDBusObjectPath& path) : path_(path) {
    QDBusConnection::sessionBus().registerObject(
        path.path(), this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
  }
  ~Session() override { QDBusConnection::sessionBus().unregisterObject(path_.path()); }

  Control Settings;
  bool Restored = false;
  uint Types = 1;
  std::unique_ptr<VideoSource> Source;

  // The desktop ends the sharing.
  void End() {
    Source.reset();
    QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
        path_.path(), QStringLiteral("org.freedesktop.impl.portal.Session"),
        QStringLiteral("Closed")));
    deleteLater();
  }

 public slots:
  void Close() {
    Source.reset();
    deleteLater();
  }

 signals:
  void Closed();

 private:
  QDBusObjectPath path_;
};

class ScreenCast : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.ScreenCast")
  Q_PROPERTY(uint AvailableSourceTypes READ SourceTypes)
  Q_PROPERTY(uint AvailableCursorModes READ CursorModes)
  Q_PROPERTY(uint version READ Version)
 public:
  ScreenCast(QString control, QString log) : control_(std::move(control)), log_(std::move(log)) {}
  uint SourceTypes() const { return 1 | 2; }
  uint CursorModes() const { return 1 | 2 | 4; }
  uint Version() const { return 4; }

 public slots:
  uint CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                     const QVariantMap&, QVariantMap& results) {
    auto* s = new Session(session);
    s->Settings = ReadControl(control_);
    sessions_[session.path()] = s;
    connect(s, &QObject::destroyed, this, [this, key = session.path()] { sessions_.remove(key); });
    results.clear();
    return 0;
  }

  uint SelectSources(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                     const QVariantMap& options, QVariantMap& results) {
    results.clear();
    Session* s = sessions_.value(session.path());
    if (!s) return 2;
    s->Restored = options.contains(QStringLiteral("restore_data"));
    s->Types = options.value(QStringLiteral("types"), 1u).toUInt();
    return 0;
  }

  uint Start(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&, const QString&,
             const QVariantMap&, QVariantMap& results) {
    results.clear();
    Session* s = sessions_.value(session.path());
    if (!s) return 2;
    Log(log_, (s->Restored ? "restored" : "dialog") + QByteArray(" types=") +
                  QByteArray::number(s->Types));
    if (s->Settings.Response != 0) return s->Settings.Response;
    s->Source = std::make_unique<VideoSource>(s->Settings);
    if (s->Source->Node() == SPA_ID_INVALID) return 2;
    StreamEntry entry;
    entry.Node = s->Source->Node();
    entry.Properties[QStringLiteral("position")] = QVariant::fromValue(IntPair{0, 0});
    entry.Properties[QStringLiteral("size")] =
        QVariant::fromValue(IntPair{s->Source->Width(), s->Source->Height()});
    entry.Properties[QStringLiteral("source_type")] = uint(s->Types == 2 ? 2 : 1);
    results[QStringLiteral("streams")] = QVariant::fromValue(QList<StreamEntry>{entry});
    results[QStringLiteral("persist_mode")] = uint(2);
    RestoreData data{QStringLiteral("quillmark-test"), 1,
                     QDBusVariant(QLatin1String(s->Types == 2 ? "window" : "monitor"))};
    results[QStringLiteral("restore_data")] = QVariant::fromValue(data);
    const Control c = s->Settings;
    QPointer<Session> guard(s);
    if (c.StopAfter >= 0)
      QTimer::singleShot(c.StopAfter, this, [guard] {
        if (Session* live = guard.data()) live->End();
      });
    if (c.VanishAfter >= 0)
      QTimer::singleShot(c.VanishAfter, this, [guard] {
        if (Session* live = guard.data()) live->Source.reset();
      });
    // The process image ends without a word to anyone; the same program starts again in it.
    if (c.ExitAfter >= 0)
      QTimer::singleShot(c.ExitAfter, this, [] { execv("/proc/self/exe", gArgv); });
    if (c.ResizeAfter >= 0)
      QTimer::singleShot(c.ResizeAfter, this, [guard, c] {
        if (Session* live = guard.data(); live && live->Source)
          live->Source->Resize(c.NewWidth, c.NewHeight);
      });
    return 0;
  }

 private:
  QString control_;
  QString log_;
  QHash<QString, Session*> sessions_;
};

}  // namespace

int main(int argc, char** argv) {
  gArgv = argv;
  QCoreApplication app(argc, argv);
  pw_init(&argc, &argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s CONTROL LOG BUSNAME\n", argv[0]);
    return 2;
  }
  qDBusRegisterMetaType<IntPair>();
  qDBusRegisterMetaType<StreamEntry>();
  qDBusRegisterMetaType<QList<StreamEntry>>();
  qDBusRegisterMetaType<RestoreData>();
  ScreenCast cast(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &cast,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
      !bus.registerService(QString::fromLocal8Bit(argv[3]))) {
    std::fprintf(stderr, "cannot serve on the session bus\n");
    return 1;
  }
  const int status = app.exec();
  pw_deinit();
  return status;
}

#include "ScreenCastBackend.moc"
