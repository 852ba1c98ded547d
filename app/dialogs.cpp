#include "dialogs.h"

#include <QStringList>

QString qtNameFilter(const QString& filter)
{
    const qsizetype bar = filter.indexOf(u'|');
    const QString name = filter.left(bar);
    QStringList patterns;
    for (QString pattern : filter.mid(bar + 1).split(u';', Qt::SkipEmptyParts)) {
        pattern = pattern.trimmed();
        // Cameras write PHOTO.JPG: each letter matches either case.
        QString anyCase;
        for (QChar c : pattern) {
            if (c.isLetter() && c.toLower() != c.toUpper())
                anyCase += u'[' + c.toLower() + c.toUpper() + u']';
            else
                anyCase += c;
        }
        patterns << anyCase;
    }
    return name + QStringLiteral(" (") + patterns.join(u' ') + u')';
}
