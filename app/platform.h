// Everything the window needs from the desktop, behind one object that the
// window is given when it is made: message boxes, file dialogs, the
// clipboard, opening a web address, letting pending events run, the capture
// back end and the language of the desktop's own texts. The program passes the desktop's own; tests pass a
// scripted one.
#pragma once

#include "layer.h"

#include "dialogs.h"
#include "qt_translations.h"

#include <QImage>
#include <QString>
#include <QUrl>

#include <memory>

class CaptureBackend;
class QWidget;

class Platform {
public:
    virtual ~Platform() = default;

    // A modal box with one OK button; returns when the user has closed it.
    virtual void showMessage(QWidget* parent, const QString& title, const QString& text, BoxIcon icon) = 0;

    // A modal file dialog. filter is "NAME|*.ext1; *.ext2": one entry whose
    // patterns match names in any letter case. fileName is the name shown at
    // first and receives the full path chosen; false when cancelled. A typed
    // name that does not exist is returned as it is, and no extension is
    // added to it.
    virtual bool chooseFile(QWidget* parent, FileDialogMode mode, const QString& filter, QString& fileName) = 0;

    // The desktop clipboard's picture: putting one replaces what the
    // clipboard held; taking gives a null image when it holds none, and
    // false when the clipboard cannot be opened.
    virtual void putPicture(const QImage& picture) = 0;
    virtual bool takePicture(QImage& picture) = 0;

    // Asks the desktop to open a web address; returns at once, false when the
    // desktop could not.
    virtual bool openUrl(const QUrl& url) = 0;

    // Lets every pending event run, as the event loop would.
    virtual void letEventsRun() = 0;

    // The cameras, through the capture operations.
    virtual CaptureBackend& capture() = 0;

    // The desktop's own texts (dialog buttons and labels) in the window's
    // language: 0 is Russian, any other index English.
    virtual void useLanguage(int languageIndex) = 0;
};

// The desktop's own services, through Qt.
class DesktopPlatform final : public Platform {
public:
    DesktopPlatform();
    ~DesktopPlatform() override;
    void showMessage(QWidget* parent, const QString& title, const QString& text, BoxIcon icon) override;
    bool chooseFile(QWidget* parent, FileDialogMode mode, const QString& filter, QString& fileName) override;
    void putPicture(const QImage& picture) override;
    bool takePicture(QImage& picture) override;
    bool openUrl(const QUrl& url) override;
    void letEventsRun() override;
    CaptureBackend& capture() override;
    void useLanguage(int languageIndex) override;

private:
    std::unique_ptr<CaptureBackend> capture_;
    QtTranslations translations_;
};
