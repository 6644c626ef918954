#include "support/ConfigDialogAnswer.h"

#include <QApplication>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace qm::test {

void AnswerConfigDialog(int quality, int keyFrames, bool accept, bool* qualityEnabled) {
  QTimer::singleShot(0, [=] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    auto* seQuality = dialog->findChild<QSpinBox*>(QStringLiteral("seQuality"));
    auto* seKeyFrames = dialog->findChild<QSpinBox*>(QStringLiteral("seKeyFrames"));
    ASSERT_NE(seQuality, nullptr);
    ASSERT_NE(seKeyFrames, nullptr);
    if (qualityEnabled) *qualityEnabled = seQuality->isEnabled();
    seQuality->setValue(quality);
    seKeyFrames->setValue(keyFrames);
    QMetaObject::invokeMethod(dialog, accept ? "accept" : "reject");
  });
}

}  // namespace qm::test
