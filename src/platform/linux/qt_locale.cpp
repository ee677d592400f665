#include "platform/linux/qt_locale.h"

#include <QDateTime>
#include <QLocale>

namespace tarnwick {

std::string QtLocale::decimalSeparator() const { return QLocale::system().decimalPoint().toStdString(); }

LocalTime QtLocale::localNow() const {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    LocalTime out;
    out.year = d.year();
    out.month = d.month();
    out.day = d.day();
    out.hour = t.hour();
    out.minute = t.minute();
    out.second = t.second();
    out.millisecond = t.msec();
    out.utcOffsetMinutes = now.offsetFromUtc() / 60;
    // Qt counts Monday 1 to Sunday 7; the system counts Sunday 1 to Saturday 7.
    out.weekday = d.dayOfWeek() % 7 + 1;
    return out;
}

}  // namespace tarnwick
