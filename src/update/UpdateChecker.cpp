#include "update/UpdateChecker.h"

#include <QDate>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <memory>

#include "common/Product.h"
#include "common/UserMessages.h"
#include "platform/desktop/Desktop.h"
#include "ui/ConfirmOnce.h"
#include "update/UpdateSettings.h"
#include "update/UpdateWindow.h"

namespace qm {

namespace {

const QString kLastCheck = QStringLiteral("Last update check");
const QString kUpdate = QStringLiteral("Update");
const QString kWebsiteName = QStringLiteral("Website");
const QString kDownloadName = QStringLiteral("DownloadURL");

// Dates outside the years 1 to 9999 are no dates.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;

// A check runs at most once at a time, whichever checker asks.
bool gChecking = false;

}  // namespace

UpdateChecker::UpdateChecker(UpdateSettings& settings, SilencedDialogs& silenced, QWidget* parent,
                             Options options)
    : settings_(settings), silenced_(silenced), parent_(parent), options_(std::move(options)) {}

UpdateChecker::UpdateChecker(UpdateSettings& settings, SilencedDialogs& silenced, QWidget* parent)
    : UpdateChecker(settings, silenced, parent, Options()) {}

double UpdateChecker::Today() const {
  // Whole days: the time of day would make the thirtieth day count as 29 before noon.
  if (options_.today) return std::floor(options_.today());
  static const QDate kEpoch(1899, 12, 30);
  return double(kEpoch.daysTo(QDate::currentDate()));
}

QString UpdateChecker::RequestAddress() const {
  QString website = settings_.ReadString(kUpdate, kWebsiteName, QString::fromUtf8(kWebsite));
  // Only a web address is asked; anything else stored there (a file, another scheme) is not.
  if (!IsWebAddress(website)) website = QString::fromUtf8(kWebsite);
  // The maker's address ends with "/", the addresses the service hands out do not.
  while (website.endsWith(QLatin1Char('/'))) website.chop(1);
  const QString id =
      settings_.ReadString(QStringLiteral("Main"), QStringLiteral("GUID"), QString());
  return website + QLatin1Char('/') + product_ + QStringLiteral("/UpdateInfo.php?currentversion=") +
         (version_.isEmpty() ? QString::fromUtf8(kVersion) : version_) + QStringLiteral("&id=") +
         id;
}

UpdateChecker::~UpdateChecker() {
  if (reply_) reply_->abort();
  if (running_) gChecking = false;
}

bool UpdateChecker::Start(bool verbose, const QString& version, const QString& product) {
  if (gChecking) return false;
  version_ = version.isEmpty() ? QString::fromUtf8(kVersion) : version;
  product_ = product;
  verbose_ = verbose;
  if (!verbose) {
    const double today = Today();
    const std::optional<double> last = settings_.ReadDate(kLastCheck);
    // The interval runs from the last automatic attempt, answered or not.
    settings_.WriteDate(kLastCheck, today);
    // A date that is no date (missing, NaN, infinite, out of range) counts as long ago.
    const bool known = last && std::isfinite(*last) && *last >= kFirstDay && *last <= kLastDay;
    // A date stored with its time of day counts from the start of its day.
    if (known && today - std::floor(*last) < 30.0) return false;
    if (!ConfirmOnce(AutoUpdateCheckText(), parent_, silenced_)) return false;
  }
  const QUrl url(RequestAddress(), QUrl::TolerantMode);
  if (!url.isValid() || !IsWebAddress(url.toString())) return false;

  gChecking = running_ = true;
  answer_.reset();
  body_.clear();
  refusal_.clear();
  manager_ = std::make_unique<QNetworkAccessManager>();
  manager_->setProxy(QNetworkProxy::NoProxy);
  manager_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  request.setRawHeader("Accept", "text/html, */*");
  request.setRawHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
  // Asking for the body as it is means the toolkit never inflates a compressed one.
  request.setRawHeader("Accept-Encoding", "identity");
  QNetworkReply* reply = manager_->get(request);
  reply_ = reply;
  // Cuts the reply off, with the reason a manual check gives.
  const auto refuse = [this](const QString& why) {
    if (!reply_ || !refusal_.isEmpty()) return;
    refusal_ = why;
    reply_->abort();
  };
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, reply,
          [refuse] { refuse(QStringLiteral("no answer in time")); });
  connect(reply, &QNetworkReply::metaDataChanged, this, [this, refuse] {
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > kMaxAnswerBytes)
      refuse(QStringLiteral("the answer is too long"));
  });
  connect(reply, &QNetworkReply::readyRead, this, [this, refuse] {
    body_ += reply_->read(kMaxAnswerBytes + 1 - body_.size());
    if (body_.size() > kMaxAnswerBytes) refuse(QStringLiteral("the answer is too long"));
  });
  connect(reply, &QNetworkReply::finished, this, &UpdateChecker::Answered);
  deadline_.start(options_.deadline);
  return true;
}

void UpdateChecker::Answered() {
  deadline_.stop();
  QNetworkReply* reply = reply_;
  if (!reply) return;
  reply_ = nullptr;
  reply->deleteLater();

  QString failure = refusal_;
  if (failure.isEmpty() && reply->error() != QNetworkReply::NoError) failure = reply->errorString();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (failure.isEmpty() && status != 200)
    failure = QStringLiteral("the service answered with status %1").arg(status);
  if (failure.isEmpty()) {
    body_ += reply->read(kMaxAnswerBytes + 1 - body_.size());
    failure =
        body_.size() > kMaxAnswerBytes ? QStringLiteral("the answer is too long") : Apply(body_);
  }
  gChecking = running_ = false;

  if (!failure.isEmpty()) {
    if (!verbose_) return End(false);
    waiting_ = [this, failure] {
      ShowMessage(QStringLiteral("Can not reach the update service: ") + failure);
      End(false);
    };
  } else {
    const bool newer = answer_->version.compare(version_, Qt::CaseSensitive) > 0;
    if (!newer && !verbose_) return End(false);
    waiting_ = [this, newer] {
      if (!parent_) return End(false);
      UpdateWindow window(
          newer ? QStringLiteral("There is a new update")
                : QStringLiteral("You still have the latest version"),
          UpdateMemoText(*answer_), [this] { OpenDownloadPage(); }, parent_);
      window.exec();
      End(true);
    };
  }
  ShowWaiting();
}

QString UpdateChecker::Apply(const QByteArray& body) {
  std::optional<UpdateAnswer> answer = ParseUpdateAnswer(body, product_);
  if (!answer) return QStringLiteral("the answer is not valid");
  if (answer->website) settings_.WriteString(kUpdate, kWebsiteName, *answer->website);
  if (answer->downloadUrl) settings_.WriteString(kUpdate, kDownloadName, *answer->downloadUrl);
  settings_.WriteDate(kLastCheck, Today());
  answer_ = std::move(answer);
  return QString();
}

void UpdateChecker::ShowWaiting() {
  if (!waiting_ || (options_.mayShow && !options_.mayShow())) return;
  std::exchange(waiting_, nullptr)();
}

void UpdateChecker::End(bool shown) {
  emit Finished(shown);
}

bool UpdateChecker::CheckForUpdate(bool verbose, const QString& version, const QString& product) {
  bool shown = false;
  QEventLoop loop;
  const QMetaObject::Connection done =
      connect(this, &UpdateChecker::Finished, &loop, [&](bool answered) {
        shown = answered;
        loop.quit();
      });
  if (Start(verbose, version, product)) loop.exec();
  disconnect(done);
  return shown;
}

void UpdateChecker::OpenDownloadPage() const {
  QString address = settings_.ReadString(kUpdate, kDownloadName, QString::fromUtf8(kWebsite));
  if (!IsWebAddress(address)) address = QString::fromUtf8(kWebsite);
  if (options_.open) {
    options_.open(address);
  } else {
    OpenWithShell(address);
  }
}

}  // namespace qm
