#include "app/CompressorOptions.h"

#include <QString>

#include <algorithm>
#include <optional>

#include "app/EncoderConfigDialog.h"
#include "app/SettingsStore.h"
#include "video/AviCompress.h"

namespace qm {

namespace {

// The limits of the options dialog.
constexpr int kMaxQuality = 100;
constexpr int kMaxKeyFrames = 10000;

const QString kSection = QStringLiteral("Video");

QString Code(const AviCompress& compressor) {
  const int index = compressor.CurrentIndex();
  const auto& entries = compressor.Entries();
  return index >= 0 && size_t(index) < entries.size() ? EntryCodeText(entries[size_t(index)])
                                                      : QString();
}

QString QualityName(const QString& code) {
  return code + QStringLiteral(" Quality");
}

QString KeyFramesName(const QString& code) {
  return code + QStringLiteral(" Key frames");
}

}  // namespace

void RestoreCompressorOptions(const SettingsStore& store, AviCompress& compressor) {
  std::optional<EncoderSettings> options = compressor.Options();
  if (!options) return;
  const QString code = Code(compressor);
  options->Quality =
      std::clamp(store.ReadInteger(kSection, QualityName(code), options->Quality), 0, kMaxQuality);
  options->KeyFrameInterval =
      std::clamp(store.ReadInteger(kSection, KeyFramesName(code), options->KeyFrameInterval), 0,
                 kMaxKeyFrames);
  compressor.SetOptions(*options);
}

bool KeepCompressorOptions(SettingsStore& store, const AviCompress& compressor) {
  const std::optional<EncoderSettings> options = compressor.Options();
  if (!options) return true;
  const QString code = Code(compressor);
  const SettingsStore::Value values[] = {
      {kSection, QualityName(code), QString::number(options->Quality)},
      {kSection, KeyFramesName(code), QString::number(options->KeyFrameInterval)},
  };
  return store.WriteValues(values);
}

bool ConfigureCompressor(QWidget* parent, AviCompress& compressor) {
  const std::optional<EncoderSettings> options = compressor.Options();
  const std::optional<AviCompress::OptionsForm> form = compressor.Form();
  if (!options || !form) return true;
  EncoderConfigDialog dialog(form->Title, *options, form->HasQuality, form->Lossless, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  compressor.SetOptions(dialog.Settings());
  return true;
}

}  // namespace qm
