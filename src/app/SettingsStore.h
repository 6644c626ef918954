#pragma once

#include <QString>
#include <QVariant>

#include <optional>

#include "ui/ConfirmOnce.h"
#include "update/UpdateSettings.h"

namespace qm {

// The per-user settings file: sections of named values, integers and booleans stored as text,
// the date as 8 binary bytes. Nothing is cached: every read reads the file, every write
// replaces it atomically before returning, so a crash never leaves it half written.
//
// A value stored with the wrong kind is reported ("Invalid data type for '<name>'") and its
// default is used. A file that cannot be written is reported once; the application goes on
// with the values it has. User-interface thread only.
class SettingsStore : public SilencedDialogs, public UpdateSettings {
 public:
  // $XDG_CONFIG_HOME/Zorvek/Quillmark.conf
  static QString DefaultPath();

  explicit SettingsStore(const QString& path = DefaultPath());

  const QString& Path() const { return path_; }

  // Reads never create the file or a section. A section "" is the file's top level.
  QString ReadString(const QString& section, const QString& name,
                     const QString& fallback) const override;
  // Decimal text; text that does not parse gives the fallback.
  int ReadInteger(const QString& section, const QString& name, int fallback) const;
  // As integer, then true when not 0.
  bool ReadBool(const QString& section, const QString& name, bool fallback) const;
  // Days since 30 December 1899 at the top level; nothing when missing or of the wrong kind.
  std::optional<double> ReadDate(const QString& name) const override;

  // False when the file could not be written.
  bool WriteString(const QString& section, const QString& name, const QString& text) override;
  bool WriteInteger(const QString& section, const QString& name, int value);
  bool WriteBool(const QString& section, const QString& name, bool value);
  bool WriteDate(const QString& name, double days) override;

  // The silenced messages live in section "Dialogs".
  bool IsSilenced(const QString& key) const override;
  void Silence(const QString& key) override;

 private:
  // The stored value; invalid when missing. Reports a value of another type than expected.
  std::optional<QVariant> Read(const QString& section, const QString& name,
                               QMetaType::Type expected) const;
  bool Write(const QString& section, const QString& name, const QVariant& value);

  QString path_;
  bool writeFailureReported_ = false;
};

}  // namespace qm
