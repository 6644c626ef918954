#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "update/UpdateAnswer.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace qm {

class SilencedDialogs;
class UpdateSettings;

// Asks the maker's update service whether a newer version exists and shows the answer.
//
// The request is one HTTP GET of "Website" + "/Quillmark/UpdateInfo.php?currentversion=1.3&id="
// + the installation identifier, with no proxy, no redirect followed and an overall deadline.
// It runs in the background: the window answers meanwhile. The answer is untrusted: see
// ParseUpdateAnswer. A failed automatic check shows nothing; a failed manual one says why. An
// answer waits to be shown while mayShow says no (a recording must never show our dialog).
//
// Made for one check and dropped after it, as the update window is. User-interface thread
// only; a check started while another one runs does nothing.
class UpdateChecker : public QObject {
  Q_OBJECT

 public:
  struct Options {
    std::chrono::milliseconds deadline{10000};
    // Now as days since 30 December 1899, local time when not set; the check counts whole
    // days and drops the time of day.
    std::function<double()> today;
    // Opens the download page; the desktop's default handler when not set.
    std::function<bool(const QString&)> open;
    // False while nothing may be shown; the answer then waits for ShowWaiting. Always true
    // when not set.
    std::function<bool()> mayShow;
  };

  // The stores must outlive the checker; parent owns the dialogs shown.
  UpdateChecker(UpdateSettings& settings, SilencedDialogs& silenced, QWidget* parent,
                Options options);
  UpdateChecker(UpdateSettings& settings, SilencedDialogs& silenced, QWidget* parent);
  ~UpdateChecker() override;

  // Starts the automatic check (verbose false: at most once per 30 days, after asking) or the
  // manual one (verbose true: also says when there is nothing newer, or why the service could
  // not be asked). False when no request was started; Finished follows a true.
  bool Start(bool verbose, const QString& version = QString(),
             const QString& product = QStringLiteral("Quillmark"));
  // Shows what waited for mayShow, once it says yes.
  void ShowWaiting();
  // Start, then waits on a local event loop until the check has finished. True when the
  // update window was shown.
  bool CheckForUpdate(bool verbose, const QString& version = QString(),
                      const QString& product = QStringLiteral("Quillmark"));

  // The answer of the last successful fetch.
  const std::optional<UpdateAnswer>& Answer() const { return answer_; }

  // The address the next request goes to.
  QString RequestAddress() const;

 signals:
  // The check is over: its answer was shown (shown true), or there was nothing to show.
  void Finished(bool shown);

 private:
  double Today() const;
  void OpenDownloadPage() const;
  // The reply has ended (or the deadline passed): judges it and shows what it says.
  void Answered();
  // Applies a valid answer: the addresses and the date are written. The reason of a failure
  // otherwise, which changes nothing.
  QString Apply(const QByteArray& body);
  void Show();
  void End(bool shown);

  UpdateSettings& settings_;
  SilencedDialogs& silenced_;
  QPointer<QWidget> parent_;
  Options options_;
  QString version_;
  QString product_ = QStringLiteral("Quillmark");
  std::optional<UpdateAnswer> answer_;
  bool verbose_ = false;
  bool running_ = false;
  std::unique_ptr<QNetworkAccessManager> manager_;
  QPointer<QNetworkReply> reply_;
  QTimer deadline_;
  QByteArray body_;
  QString refusal_;                // why the reply was cut off
  std::function<void()> waiting_;  // what is to be shown once mayShow allows
};

}  // namespace qm
