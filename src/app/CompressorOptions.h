#pragma once

class QWidget;

namespace qm {

class AviCompress;
class SettingsStore;

// Each compressor's options from its "Set" dialog are kept in section "Video" under its code,
// as "<code> Quality" and "<code> Key frames", so that choosing another compressor or a new
// run does not lose them. A compressor without stored options keeps its defaults.

// Gives the current compressor its stored options.
void RestoreCompressorOptions(const SettingsStore& store, AviCompress& compressor);
// Stores the current compressor's options; false when the file could not be written.
bool KeepCompressorOptions(SettingsStore& store, const AviCompress& compressor);

// Shows the current compressor's options dialog, modal over parent; true when the user
// confirmed, and the compressor has the options then. Nothing to show for the built-in entry.
bool ConfigureCompressor(QWidget* parent, AviCompress& compressor);

}  // namespace qm
