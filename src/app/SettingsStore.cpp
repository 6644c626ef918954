#include "app/SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cstring>

#include "common/LittleEndian.h"
#include "common/UserMessages.h"

namespace qm {

namespace {

QString Key(const QString& section, const QString& name) {
  return section.isEmpty() ? name : section + QLatin1Char('/') + name;
}

}  // namespace

QString SettingsStore::DefaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Zorvek/Quillmark.conf");
}

SettingsStore::SettingsStore(const QString& path) : path_(path) {}

bool SettingsStore::FileUsable() const {
  if (refused_) return false;
  // Checked before every opening: a FIFO would block the read, a device would be replaced by
  // the save's rename. A missing file is made by the first write.
  const QFileInfo info(path_);
  QString problem;
  if ((info.isSymLink() || info.exists()) && !info.isFile())
    problem = QStringLiteral(" is not a regular file.");
  else if (info.exists() && info.size() > kMaxFileBytes)
    problem = QStringLiteral(" is larger than 1 MiB.");
  if (problem.isEmpty()) return true;
  refused_ = true;
  ShowMessage(QStringLiteral("The settings file ") + path_ + problem +
              QStringLiteral("\nQuillmark goes on with default settings and leaves the file as "
                             "it is; changes will not be kept."));
  return false;
}

std::optional<QVariant> SettingsStore::Read(const QString& section, const QString& name,
                                            QMetaType::Type expected, bool report) const {
  const QString key = Key(section, name);
  QVariant value;
  if (const auto unsaved = unsaved_.find(key); unsaved != unsaved_.end()) {
    value = unsaved->second;
  } else {
    if (!FileUsable()) return std::nullopt;
    // QSettings' native format on Linux is its ini syntax under the name given here.
    const QSettings file(path_, QSettings::NativeFormat);
    if (!file.contains(key)) return std::nullopt;
    value = file.value(key);
  }
  // A hand-edited "a, b" comes back as a list, "@ByteArray(...)" as bytes, and so on.
  if (value.typeId() != expected) {
    if (report) Report(name);
    return std::nullopt;
  }
  return value;
}

void SettingsStore::Report(const QString& name) const {
  if (!collected_) {
    ShowMessage(QStringLiteral("Invalid data type for '%1'").arg(name));
  } else if (!collected_->contains(name)) {
    collected_->append(name);
  }
}

bool SettingsStore::Write(const QString& section, const QString& name, const QVariant& value) {
  const Value values[] = {{section, name, value}};
  return WriteValues(values);
}

bool SettingsStore::WriteValues(std::span<const Value> values) {
  for (const Value& v : values) unsaved_[Key(v.section, v.name)] = v.value;
  if (!FileUsable()) return false;
  {
    QSettings file(path_, QSettings::NativeFormat);
    for (const auto& [key, value] : unsaved_) file.setValue(key, value);
    // sync() writes a new file and renames it over the old one (QSaveFile). A file that did
    // not parse (FormatError) is still replaced; only an access error means nothing was
    // written.
    file.sync();
    if (file.status() != QSettings::AccessError) {
      unsaved_.clear();
      return true;
    }
  }
  if (!writeFailureReported_) {
    writeFailureReported_ = true;
    ShowMessage(QStringLiteral("Can not write the settings file ") + path_ +
                QStringLiteral("\nQuillmark goes on with its current settings, but they will "
                               "not be kept."));
  }
  return false;
}

QString SettingsStore::ReadString(const QString& section, const QString& name,
                                  const QString& fallback) const {
  const std::optional<QVariant> value = Read(section, name, QMetaType::QString);
  return value ? value->toString() : fallback;
}

int SettingsStore::ReadInteger(const QString& section, const QString& name, int fallback) const {
  const std::optional<QVariant> value = Read(section, name, QMetaType::QString);
  if (!value) return fallback;
  bool ok = false;
  const int number = value->toString().toInt(&ok, 10);
  if (!ok) Report(name);
  return ok ? number : fallback;
}

bool SettingsStore::ReadBool(const QString& section, const QString& name, bool fallback) const {
  return ReadInteger(section, name, fallback ? 1 : 0) != 0;
}

std::optional<double> SettingsStore::ReadDate(const QString& name) const {
  // The update check counts a date it cannot read as long ago, without a word.
  const std::optional<QVariant> value = Read(QString(), name, QMetaType::QByteArray, false);
  if (!value) return std::nullopt;
  const QByteArray bytes = value->toByteArray();
  if (bytes.size() != 8) return std::nullopt;
  // The 8 bytes are an IEEE double, little-endian.
  const auto* at = reinterpret_cast<const uint8_t*>(bytes.constData());
  const uint64_t bits = GetLE64(at);
  double days = 0;
  std::memcpy(&days, &bits, sizeof days);
  return days;
}

bool SettingsStore::WriteString(const QString& section, const QString& name, const QString& text) {
  return Write(section, name, text);
}

bool SettingsStore::WriteInteger(const QString& section, const QString& name, int value) {
  return Write(section, name, QString::number(value));
}

bool SettingsStore::WriteBool(const QString& section, const QString& name, bool value) {
  return Write(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool SettingsStore::WriteDate(const QString& name, double days) {
  uint64_t bits = 0;
  std::memcpy(&bits, &days, sizeof bits);
  QByteArray bytes(8, '\0');
  auto* at = reinterpret_cast<uint8_t*>(bytes.data());
  PutLE64(at, bits);
  return Write(QString(), name, bytes);
}

bool SettingsStore::IsSilenced(const QString& key) const {
  return ReadBool(QStringLiteral("Dialogs"), key, false);
}

void SettingsStore::Silence(const QString& key) {
  WriteBool(QStringLiteral("Dialogs"), key, true);
}

}  // namespace qm
