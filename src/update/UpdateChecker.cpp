#include "update/UpdateChecker.h"

#include <QDate>
#include <QDateTime>
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

// A check runs at most once at a time: its wait runs the event loop, where timers could
// start another.
bool gChecking = false;

// Fetches url into memory within the deadline. Nothing on any failure: no connection, a
// status other than 200 (a redirect included, which is not followed), a body over
// kMaxAnswerBytes, the deadline passed. The event loop keeps running meanwhile, user input
// excepted.
std::optional<QByteArray> Get(const QUrl& url, std::chrono::milliseconds deadline) {
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  request.setRawHeader("Accept", "text/html, */*");
  request.setRawHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
  // Asking for the body as it is means the toolkit never inflates a compressed one.
  request.setRawHeader("Accept-Encoding", "identity");
  std::unique_ptr<QNetworkReply> reply(manager.get(request));

  QByteArray body;
  bool refused = false;
  const auto refuse = [&] {
    refused = true;
    reply->abort();
  };
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, refuse);
  QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > kMaxAnswerBytes) refuse();
  });
  QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
    body += reply->read(kMaxAnswerBytes + 1 - body.size());
    if (body.size() > kMaxAnswerBytes) refuse();
  });
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  timer.start(deadline);
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (refused || reply->error() != QNetworkReply::NoError) return std::nullopt;
  if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) {
    return std::nullopt;
  }
  body += reply->read(kMaxAnswerBytes + 1 - body.size());
  if (body.size() > kMaxAnswerBytes) return std::nullopt;
  return body;
}

// Clears the flag of the running check when it ends, however it ends.
struct CheckingFlag {
  CheckingFlag() { gChecking = true; }
  ~CheckingFlag() { gChecking = false; }
  CheckingFlag(const CheckingFlag&) = delete;
  CheckingFlag& operator=(const CheckingFlag&) = delete;
};

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

bool UpdateChecker::FetchUpdateInfo() {
  if (gChecking) return false;
  const CheckingFlag checking;
  const QUrl url(RequestAddress(), QUrl::TolerantMode);
  if (!url.isValid() || !IsWebAddress(url.toString())) return false;
  const std::optional<QByteArray> body = Get(url, options_.deadline);
  if (!body) return false;
  std::optional<UpdateAnswer> answer = ParseUpdateAnswer(*body, product_);
  if (!answer) return false;
  if (answer->website) settings_.WriteString(kUpdate, kWebsiteName, *answer->website);
  if (answer->downloadUrl) settings_.WriteString(kUpdate, kDownloadName, *answer->downloadUrl);
  settings_.WriteDate(kLastCheck, Today());
  answer_ = std::move(answer);
  return true;
}

bool UpdateChecker::CheckForUpdate(bool verbose, const QString& version, const QString& product) {
  if (gChecking) return false;
  version_ = version.isEmpty() ? QString::fromUtf8(kVersion) : version;
  product_ = product;
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
  if (!FetchUpdateInfo() || !parent_) return false;

  QString caption = QStringLiteral("There is a new update");
  if (answer_->version.compare(version_, Qt::CaseSensitive) <= 0) {
    if (!verbose) return false;
    caption = QStringLiteral("You still have the latest version");
  }
  UpdateWindow window(
      caption, UpdateMemoText(*answer_), [this] { OpenDownloadPage(); }, parent_);
  window.exec();
  return true;
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
