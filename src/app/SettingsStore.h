#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <map>
#include <optional>
#include <span>
#include <utility>

#include "ui/ConfirmOnce.h"
#include "update/UpdateSettings.h"

namespace qm {

// The per-user settings file: sections of named values, integers and booleans stored as text,
// the date as 8 binary bytes. Nothing is cached: every read reads the file, every write
// replaces it atomically before returning, so a crash never leaves it half written.
//
// A value stored with the wrong kind (or an integer that is no number) is reported ("Invalid
// data type for '<name>'"), or its name collected while CollectReports is on, and its default
// is used. Only a regular file of at most kMaxFileBytes is read or replaced (through a
// symbolic link to one, the file it names): anything else at the path (a device, a FIFO, a
// huge file) is reported once and left as it is, and the run starts on the defaults. Values
// that could not reach the file (that one, or a write that failed, reported once) are kept in
// memory for the rest of the run and written with the next write that succeeds.
// User-interface thread only.
class SettingsStore : public SilencedDialogs, public UpdateSettings {
 public:
  // $XDG_CONFIG_HOME/Zorvek/Quillmark.conf
  static QString DefaultPath();

  // Larger files are not settings of ours; reading one would stall the start.
  static constexpr qint64 kMaxFileBytes = 1024 * 1024;

  explicit SettingsStore(const QString& path = DefaultPath());

  // One value of a batch write.
  struct Value {
    QString section;
    QString name;
    QVariant value;
  };

  const QString& Path() const { return path_; }

  // Reads never create the file or a section. A section "" is the file's top level.
  QString ReadString(const QString& section, const QString& name,
                     const QString& fallback) const override;
  // Decimal text; text that does not parse gives the fallback.
  int ReadInteger(const QString& section, const QString& name, int fallback) const;
  // As integer, then true when not 0.
  bool ReadBool(const QString& section, const QString& name, bool fallback) const;
  // Days since 30 December 1899 at the top level; nothing, silently, when missing or
  // unreadable.
  std::optional<double> ReadDate(const QString& name) const override;

  // False when the file could not be written.
  bool WriteString(const QString& section, const QString& name, const QString& text) override;
  bool WriteInteger(const QString& section, const QString& name, int value);
  bool WriteBool(const QString& section, const QString& name, bool value);
  bool WriteDate(const QString& name, double days) override;
  // Writes every value in one replacement of the file. False when it could not be written.
  bool WriteValues(std::span<const Value> values);

  // From now on the names of values that cannot be read go into into (each once) instead of a
  // message each; nullptr shows the messages again. Returns where they went before.
  QStringList* CollectReports(QStringList* into) const { return std::exchange(collected_, into); }

  // The silenced messages live in section "Dialogs".
  bool IsSilenced(const QString& key) const override;
  void Silence(const QString& key) override;

 private:
  // The stored value; nothing when missing. A value of another type than expected is nothing
  // too, and reported when report is set.
  std::optional<QVariant> Read(const QString& section, const QString& name,
                               QMetaType::Type expected, bool report = true) const;
  bool Write(const QString& section, const QString& name, const QVariant& value);
  // Tells of a value that cannot be read, or collects its name.
  void Report(const QString& name) const;
  // False, reported once, when the path holds something this store must not open; once
  // refused, the file stays untouched for the rest of the run.
  bool FileUsable() const;

  QString path_;
  mutable bool refused_ = false;
  mutable QStringList* collected_ = nullptr;
  bool writeFailureReported_ = false;
  // Values written that the file does not hold, by their key.
  std::map<QString, QVariant> unsaved_;
};

}  // namespace qm
