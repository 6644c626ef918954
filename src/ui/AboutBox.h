#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;

namespace qm {

// The processor speed as the About box shows it ("2400 MHz"): the first "cpu MHz" line of
// the given cpuinfo file, rounded; empty when there is none.
QString CpuSpeedText(const QString& cpuinfoPath = QStringLiteral("/proc/cpuinfo"));

// The About box: borderless, on top, closed by any key or mouse button. Its e-mail and web
// links are opened with openAddress (by default the desktop's handler).
class AboutBox : public QDialog {
  Q_OBJECT

 public:
  using AddressOpener = std::function<void(const QString& address)>;

  explicit AboutBox(QWidget* parent, const QString& cpuinfoPath = QStringLiteral("/proc/cpuinfo"),
                    AddressOpener openAddress = {});

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString cpuinfoPath_;
  AddressOpener openAddress_;
  QLabel* version_;
  QLabel* cpuSpeed_;
  QLabel* email_;
  QLabel* website_;
};

}  // namespace qm
