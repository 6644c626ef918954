#pragma once

#include <QString>
#include <QStringList>

#include <span>
#include <variant>

namespace qm {

class SettingsStore;

// The values of the settings pages that the main window loads at start and saves at the end.
struct Settings {
  int captureArea = 0;     // the area's mode: an index of the area list, or 7 for a monitor
  QString captureMonitor;  // the monitor's name in mode 7
  int customLeft = 0;      // the drawn ("Custom") area; a width of 0: none drawn yet
  int customTop = 0;
  int customWidth = 0;
  int customHeight = 0;
  bool windowPlaced = false;  // the main window's place, once it has one
  int windowLeft = 0;
  int windowTop = 0;
  bool showCursor = false;
  bool followCursor = false;
  QString photoKey;  // the shortcuts' combination texts
  QString startMovieKey;
  QString pauseMovieKey;
  QString finishMovieKey;
  int videoCompression = 0;  // an index of the compressor list; -1 none
  int fps = 0;
  int startDelay = 0;
  bool playResult = false;
  int recordSound = 0;  // 0 none, 1 the desktop's, 2 the microphone, 3 both
  int soundCodec = 0;   // 0 PCM, 1 MP3
  int alsoSaveAs = 0;   // the copy made after each recording: 0 none, 1 MP4, 2 WebM, 3 GIF
  int pictureType = 0;  // an index of the picture type list
  int jpgQuality = 0;
  QString outputFolder;  // ends in "/"

  friend bool operator==(const Settings&, const Settings&) = default;
};

enum class SettingKind { Text, Integer, Bool, Date };

// The member of Settings a row loads into and saves from; none for values that other parts
// read and write when their events happen.
using SettingField =
    std::variant<std::monostate, int Settings::*, bool Settings::*, QString Settings::*>;

struct SettingRow {
  const char* section;  // "" is the file's top level
  const char* name;
  SettingKind kind;
  const char* fallback;  // the default as stored text; nullptr: computed by `computed`
  int min = 0;           // an integer's limits (those of its control); min == max: none
  int max = 0;
  SettingField field = {};
  QString (*computed)() = nullptr;
};

// Every value the application keeps, in the order the settings load and save walk them.
std::span<const SettingRow> SettingsTable();

// The row's default as stored text.
QString DefaultText(const SettingRow& row);

// The values kept outside Settings, read and written when their events happen, by the row of
// section and name: a missing value, or one of the wrong kind, reads as the row's default.
// A name the table lacks reads as empty and is not written.
QString ReadSetting(const SettingsStore& store, const char* section, const char* name);
bool ReadFlag(const SettingsStore& store, const char* section, const char* name);
bool WriteSetting(SettingsStore& store, const char* section, const char* name, const QString& text);

// "Captures/" beside the executable when that can be written (a build tree, a portable copy),
// else the user's videos folder + "Quillmark/".
QString DefaultOutputFolder();
QString DefaultOutputFolderBeside(const QString& executableFolder);

// An empty output folder is the default one; a relative one ("~/" too) lies in the home
// folder; each gets its final "/".
QString UsableOutputFolder(const QString& folder);

Settings DefaultSettings();
// Missing values and values of the wrong kind give their defaults; integers are kept inside
// their limits; an empty shortcut gives its default. With reset, the names of the values that
// were changed so go there, each once, instead of a message each.
Settings LoadSettings(const SettingsStore& store, QStringList* reset = nullptr);
// The one notice of the values a load reset (their names).
QString ResetNotice(const QString& path, const QStringList& reset);
// Writes every value, changed or not; false when the file could not be written.
bool SaveSettings(SettingsStore& store, const Settings& settings);

}  // namespace qm
