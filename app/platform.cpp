#include "platform.h"

#include "widgets/capture/camera_backend.h"
#include "camera/v4l2_camera.h"
#include "camera/v4l2_io.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

DesktopPlatform::DesktopPlatform()
    : capture_(std::make_unique<CameraBackend>(v4l2Cameras(systemV4l2Io()),
          [this](const QImage& picture) { putPicture(picture); }))
{
}

DesktopPlatform::~DesktopPlatform() = default;

void DesktopPlatform::showMessage(QWidget* parent, const QString& title, const QString& text, BoxIcon icon)
{
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
        QMessageBox::Ok, parent);
    box.exec();
}

bool DesktopPlatform::chooseFile(QWidget* parent, FileDialogMode mode, const QString& filter, QString& fileName)
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

void DesktopPlatform::putPicture(const QImage& picture) { QGuiApplication::clipboard()->setImage(picture); }

bool DesktopPlatform::takePicture(QImage& picture)
{
    // Qt reads the clipboard in one request; there is nothing to open that
    // another program could hold.
    picture = QGuiApplication::clipboard()->image();
    return true;
}

bool DesktopPlatform::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void DesktopPlatform::letEventsRun() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

CaptureBackend& DesktopPlatform::capture() { return *capture_; }

void DesktopPlatform::useLanguage(int languageIndex)
{
    // Without the translations installed Qt speaks English, which is still
    // usable: nothing to report.
    translations_.use(languageIndex);
}
