#include "dialogs.h"

#include <QMessageBox>

void QtMessageBoxes::show(QWidget* parent, const QString& title, const QString& text, BoxIcon icon)
{
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
        QMessageBox::Ok, parent);
    box.exec();
}
