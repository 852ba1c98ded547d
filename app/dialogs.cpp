#include "dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

void QtMessageBoxes::show(QWidget* parent, const QString& title, const QString& text, BoxIcon icon)
{
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
        QMessageBox::Ok, parent);
    box.exec();
}

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

bool QtFileDialogs::choose(QWidget* parent, FileDialogMode mode, const QString& filter, QString& fileName)
{
    QFileDialog dialog(parent);
    // Qt's own dialog on every desktop: a desktop's native one may refuse a
    // typed name that does not exist, or read the name filter differently.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(mode == FileDialogMode::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // Any name may be typed, also one that does not exist: the program then
    // reports what is wrong with it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qtNameFilter(filter));
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName = dialog.selectedFiles().constFirst();
    return true;
}
