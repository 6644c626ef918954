#include "app/SettingsTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/SettingsStore.h"
#include "common/Product.h"
#include "shell/FolderChooser.h"
#include "shell/ShellActions.h"

namespace qm {

namespace {

using K = SettingKind;
using S = Settings;

// The five sections of the load and save are the captions of the main window's pages.
// "Video Compression" -1 (none stored) keeps the window's preselection, "MP42".
// clang-format off
const SettingRow kTable[] = {
  {.section = "",             .name = "Last update check",      .kind = K::Date,    .fallback = "0"},
  {.section = "Main",         .name = "GUID",                   .kind = K::Text,    .fallback = ""},
  {.section = "Main",         .name = "Window placed",          .kind = K::Bool,    .fallback = "0",                                .field = &S::windowPlaced},
  {.section = "Main",         .name = "Window left",            .kind = K::Integer, .fallback = "0",                                .field = &S::windowLeft},
  {.section = "Main",         .name = "Window top",             .kind = K::Integer, .fallback = "0",                                .field = &S::windowTop},
  {.section = "Preference",   .name = "Automatic update check", .kind = K::Bool,    .fallback = "1"},
  {.section = "Dialogs",      .name = "Closing is hiding",      .kind = K::Bool,    .fallback = "0"},
  {.section = "Dialogs",      .name = "Hiding window",          .kind = K::Bool,    .fallback = "0"},
  {.section = "Dialogs",      .name = "AutoUpdateCheck",        .kind = K::Bool,    .fallback = "0"},
  {.section = "Update",       .name = "Website",                .kind = K::Text,    .fallback = kWebsite},
  {.section = "Update",       .name = "DownloadURL",            .kind = K::Text,    .fallback = kWebsite},
  {.section = "Capture area", .name = "Capture area",           .kind = K::Integer, .fallback = "3",                                .field = &S::captureArea},
  {.section = "Capture area", .name = "Show cursor",            .kind = K::Bool,    .fallback = "1",                                .field = &S::showCursor},
  {.section = "Capture area", .name = "Source",                 .kind = K::Text,    .fallback = "auto"},
  {.section = "Capture area", .name = "Restore token",          .kind = K::Text,    .fallback = ""},
  {.section = "Capture area", .name = "Window restore token",   .kind = K::Text,    .fallback = ""},
  {.section = "Capture area", .name = "Follow cursor",          .kind = K::Bool,    .fallback = "1",                                .field = &S::followCursor},
  {.section = "Capture area", .name = "Monitor",                .kind = K::Text,    .fallback = "",                                 .field = &S::captureMonitor},
  {.section = "Capture area", .name = "Custom left",            .kind = K::Integer, .fallback = "0",                                .field = &S::customLeft},
  {.section = "Capture area", .name = "Custom top",             .kind = K::Integer, .fallback = "0",                                .field = &S::customTop},
  {.section = "Capture area", .name = "Custom width",           .kind = K::Integer, .fallback = "0",          .min = 0, .max = 65535, .field = &S::customWidth},
  {.section = "Capture area", .name = "Custom height",          .kind = K::Integer, .fallback = "0",          .min = 0, .max = 65535, .field = &S::customHeight},
  {.section = "Short-cut",    .name = "Photo",                  .kind = K::Text,    .fallback = "CTRL+ALT+X",                       .field = &S::photoKey},
  {.section = "Short-cut",    .name = "StartMovie",             .kind = K::Text,    .fallback = "CTRL+ALT+S",                       .field = &S::startMovieKey},
  {.section = "Short-cut",    .name = "PauseMovie",             .kind = K::Text,    .fallback = "CTRL+ALT+P",                       .field = &S::pauseMovieKey},
  {.section = "Short-cut",    .name = "FinishMovie",            .kind = K::Text,    .fallback = "CTRL+ALT+F",                       .field = &S::finishMovieKey},
  {.section = "Video",        .name = "Video Compression",      .kind = K::Integer, .fallback = "-1",                               .field = &S::videoCompression},
  {.section = "Video",        .name = "FPS",                    .kind = K::Integer, .fallback = "4",          .min = 1, .max = 32,  .field = &S::fps},
  {.section = "Video",        .name = "Start delay",            .kind = K::Integer, .fallback = "3",          .min = 0, .max = 60,  .field = &S::startDelay},
  {.section = "Video",        .name = "PlayResult",             .kind = K::Bool,    .fallback = "1",                                .field = &S::playResult},
  {.section = "Video",        .name = "Record sound",           .kind = K::Integer, .fallback = "0",          .min = 0, .max = 3,   .field = &S::recordSound},
  {.section = "Video",        .name = "Sound codec",            .kind = K::Integer, .fallback = "0",          .min = 0, .max = 1,   .field = &S::soundCodec},
  {.section = "Video",        .name = "After each recording also save as", .kind = K::Integer, .fallback = "0", .min = 0, .max = 3, .field = &S::alsoSaveAs},
  {.section = "Picture",      .name = "Picture type",           .kind = K::Integer, .fallback = "0",                                .field = &S::pictureType},
  {.section = "Picture",      .name = "JPG Quality",            .kind = K::Integer, .fallback = "17",         .min = 0, .max = 24,  .field = &S::jpgQuality},
  {.section = "Folder",       .name = "Output Folder",          .kind = K::Text,    .fallback = nullptr,                            .field = &S::outputFolder, .computed = &DefaultOutputFolder},
};
// clang-format on

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

// Visits every row with a field, giving its member and the row.
template <class IntFn, class BoolFn, class TextFn>
void WalkFields(IntFn onInt, BoolFn onBool, TextFn onText) {
  for (const SettingRow& row : kTable) {
    std::visit(
        Overloaded{[](std::monostate) {}, [&](int S::*m) { onInt(row, m); },
                   [&](bool S::*m) { onBool(row, m); }, [&](QString S::*m) { onText(row, m); }},
        row.field);
  }
}

int Limited(const SettingRow& row, int value) {
  return row.min == row.max ? value : std::clamp(value, row.min, row.max);
}

QString Section(const SettingRow& row) {
  return QString::fromLatin1(row.section);
}
QString Name(const SettingRow& row) {
  return QString::fromLatin1(row.name);
}

}  // namespace

std::span<const SettingRow> SettingsTable() {
  return kTable;
}

QString DefaultText(const SettingRow& row) {
  return row.fallback ? QString::fromLatin1(row.fallback) : row.computed();
}

namespace {

const SettingRow* FindRow(const char* section, const char* name) {
  for (const SettingRow& row : kTable)
    if (std::string_view(row.section) == section && std::string_view(row.name) == name) return &row;
  return nullptr;
}

}  // namespace

QString ReadSetting(const SettingsStore& store, const char* section, const char* name) {
  const SettingRow* row = FindRow(section, name);
  if (!row) return QString();
  if (row->kind == K::Bool)
    return store.ReadBool(Section(*row), Name(*row), DefaultText(*row).toInt() != 0)
               ? QStringLiteral("1")
               : QStringLiteral("0");
  if (row->kind == K::Integer)
    return QString::number(
        Limited(*row, store.ReadInteger(Section(*row), Name(*row), DefaultText(*row).toInt())));
  return store.ReadString(Section(*row), Name(*row), DefaultText(*row));
}

bool ReadFlag(const SettingsStore& store, const char* section, const char* name) {
  return ReadSetting(store, section, name).toInt() != 0;
}

bool WriteSetting(SettingsStore& store, const char* section, const char* name,
                  const QString& text) {
  const SettingRow* row = FindRow(section, name);
  return row && store.WriteString(Section(*row), Name(*row), text);
}

QString DefaultOutputFolderBeside(const QString& executableFolder) {
  const QString beside = WithFinalSlash(executableFolder) + QStringLiteral("Captures/");
  const QFileInfo captures(beside);
  const bool writable = captures.exists() ? captures.isDir() && captures.isWritable()
                                          : QFileInfo(executableFolder).isWritable();
  // An installed program's folder stays the system's even when root may write to it.
  if (writable && !InstalledProgram(executableFolder)) return beside;
  return WithFinalSlash(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)) +
         QStringLiteral("Quillmark/");
}

QString DefaultOutputFolder() {
  return DefaultOutputFolderBeside(QCoreApplication::applicationDirPath());
}

QString UsableOutputFolder(const QString& folder) {
  if (folder.isEmpty()) return DefaultOutputFolder();
  // A relative folder (a hand-edited file) would depend on where the program was started;
  // it is taken from the home folder, as "~/" says.
  if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
    return WithFinalSlash(QDir::homePath() + folder.mid(1));
  if (QDir::isRelativePath(folder)) return WithFinalSlash(QDir::home().filePath(folder));
  return WithFinalSlash(folder);
}

Settings DefaultSettings() {
  Settings settings;
  WalkFields(
      [&](const SettingRow& row, int S::*m) { settings.*m = DefaultText(row).toInt(); },
      [&](const SettingRow& row, bool S::*m) { settings.*m = DefaultText(row).toInt() != 0; },
      [&](const SettingRow& row, QString S::*m) { settings.*m = DefaultText(row); });
  return settings;
}

Settings LoadSettings(const SettingsStore& store, QStringList* reset) {
  Settings settings;
  QStringList* const before = reset ? store.CollectReports(reset) : nullptr;
  const auto note = [&](const SettingRow& row) {
    if (reset && !reset->contains(Name(row))) reset->append(Name(row));
  };
  WalkFields(
      [&](const SettingRow& row, int S::*m) {
        const int read = store.ReadInteger(Section(row), Name(row), DefaultText(row).toInt());
        settings.*m = Limited(row, read);
        if (settings.*m != read) note(row);
      },
      [&](const SettingRow& row, bool S::*m) {
        settings.*m = store.ReadBool(Section(row), Name(row), DefaultText(row).toInt() != 0);
      },
      [&](const SettingRow& row, QString S::*m) {
        settings.*m = store.ReadString(Section(row), Name(row), DefaultText(row));
        // A shortcut without keys would never fire, without a word: it gets its default.
        if (std::string_view(row.section) == "Short-cut" && (settings.*m).trimmed().isEmpty()) {
          settings.*m = DefaultText(row);
          note(row);
        }
      });
  settings.outputFolder = UsableOutputFolder(settings.outputFolder);
  if (reset) store.CollectReports(before);
  return settings;
}

QString ResetNotice(const QString& path, const QStringList& reset) {
  return QStringLiteral(
             "Some values in the settings file %1 could not be read; they were set to "
             "their defaults: %2.")
      .arg(path, reset.join(QStringLiteral(", ")));
}

bool SaveSettings(SettingsStore& store, const Settings& settings) {
  // One replacement of the file for all of them.
  std::vector<SettingsStore::Value> values;
  const auto add = [&](const SettingRow& row, const QString& text) {
    values.push_back({Section(row), Name(row), text});
  };
  WalkFields([&](const SettingRow& row, int S::*m) { add(row, QString::number(settings.*m)); },
             [&](const SettingRow& row, bool S::*m) {
               add(row, settings.*m ? QStringLiteral("1") : QStringLiteral("0"));
             },
             [&](const SettingRow& row, QString S::*m) {
               add(row, m == &S::outputFolder ? UsableOutputFolder(settings.*m) : settings.*m);
             });
  return store.WriteValues(values);
}

}  // namespace qm
