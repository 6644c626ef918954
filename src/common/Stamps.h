#pragma once

#include <QDateTime>
#include <QString>

namespace qm {

// The stamps that name things: the digits of a moment in the names of recordings and photo
// folders, and the GUID that names this installation to the update service.

// Days since 30 December 1899 (time of day as fraction) times 1000000, rounded.
QString TimeStampDigits();
QString TimeStampDigits(const QDateTime& localTime);

// A new braced, upper-case GUID (38 characters); empty when none can be made.
QString NewGuidString();

}  // namespace qm
