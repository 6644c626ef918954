#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

#include "update/UpdateAnswer.h"

namespace qm {

class SilencedDialogs;
class UpdateSettings;

// Asks the maker's update service whether a newer version exists and shows the answer.
//
// The request is one HTTP GET of "Website" + "/Quillmark/UpdateInfo.php?currentversion=1.3&id="
// + the installation identifier, with no proxy, no redirect followed and an overall deadline.
// While it runs the event loop goes on (a recording's hand-offs keep running) but user input
// waits. The answer is untrusted: see ParseUpdateAnswer. A failed check shows nothing.
//
// Made for one check and dropped after it, as the update window is. User-interface thread
// only; a check started while another one waits for its answer does nothing.
class UpdateChecker {
 public:
  struct Options {
    std::chrono::milliseconds deadline{10000};
    // Now as days since 30 December 1899, local time when not set; the check counts whole
    // days and drops the time of day.
    std::function<double()> today;
    // Opens the download page; the desktop's default handler when not set.
    std::function<bool(const QString&)> open;
  };

  // The stores must outlive the checker; parent owns the dialogs shown.
  UpdateChecker(UpdateSettings& settings, SilencedDialogs& silenced, QWidget* parent,
                Options options);
  UpdateChecker(UpdateSettings& settings, SilencedDialogs& silenced, QWidget* parent);

  // The automatic check (verbose false: at most once per 30 days, after asking) or the manual
  // one (verbose true: also says when there is nothing newer). True when the update window
  // was shown.
  bool CheckForUpdate(bool verbose, const QString& version = QString(),
                      const QString& product = QStringLiteral("Quillmark"));

  // Fetches and applies the answer: the addresses and the date are written. False on any
  // failure, which changes nothing.
  bool FetchUpdateInfo();

  // The answer of the last successful fetch.
  const std::optional<UpdateAnswer>& Answer() const { return answer_; }

  // The address the next request goes to.
  QString RequestAddress() const;

 private:
  double Today() const;
  void OpenDownloadPage() const;

  UpdateSettings& settings_;
  SilencedDialogs& silenced_;
  QPointer<QWidget> parent_;
  Options options_;
  QString version_;
  QString product_ = QStringLiteral("Quillmark");
  std::optional<UpdateAnswer> answer_;
};

}  // namespace qm
