#pragma once

#include <QString>

#include <optional>

namespace qm {

// What the update check reads and writes of the settings store: text values in sections, and
// the date of the last check at the top level (days since 30 December 1899). The application's
// settings store is one; tests keep the values in memory.
class UpdateSettings {
 public:
  virtual ~UpdateSettings() = default;
  virtual QString ReadString(const QString& section, const QString& name,
                             const QString& fallback) const = 0;
  virtual bool WriteString(const QString& section, const QString& name, const QString& text) = 0;
  // Nothing when missing or unreadable.
  virtual std::optional<double> ReadDate(const QString& name) const = 0;
  virtual bool WriteDate(const QString& name, double days) = 0;
};

}  // namespace qm
