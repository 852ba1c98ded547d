#include "application.h"

#include "compose/errors.h"
#include "dialogs.h"
#include "icon.h"

#include <QStyleFactory>
#include <QWidget>

#include <new>

QString errorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QChar(u'.'))
        return message + u'.';
    return message;
}

QFont windowFont()
{
    // The layout was made for a compact sans-serif at 11 pixels; Liberation
    // Sans keeps its Latin and Cyrillic captions within their controls.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    // Set a little tighter than the face's own spacing, which is wider than
    // the layout's: "Голубой G, B" would otherwise run 3 pixels into the
    // slider beside it.
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.3);
    return font;
}

OrvantaApplication::OrvantaApplication(int& argc, char** argv)
    : QApplication(argc, argv)
    , ownBoxes_(std::make_unique<QtMessageBoxes>())
    , boxes_(ownBoxes_.get())
    , ownFileDialogs_(std::make_unique<QtFileDialogs>())
    , fileDialogs_(ownFileDialogs_.get())
{
    setApplicationName(QStringLiteral("orvanta"));
    // No application display name: on X11 Qt appends it to every top-level
    // title, and the boxes' titles must read exactly as given ("Внимание",
    // not "Внимание — Orvanta").
    setWindowIcon(appIcon());
    // The window is laid out to the pixel; Fusion draws its controls the same
    // on every desktop, so no caption is clipped by a theme's wider margins.
    setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    setFont(windowFont());
}

OrvantaApplication::~OrvantaApplication() = default;

OrvantaApplication* OrvantaApplication::instance()
{
    return static_cast<OrvantaApplication*>(QCoreApplication::instance());
}

void OrvantaApplication::setMessageBoxes(MessageBoxes* boxes) { boxes_ = boxes ? boxes : ownBoxes_.get(); }

void OrvantaApplication::setFileDialogs(FileDialogs* dialogs)
{
    fileDialogs_ = dialogs ? dialogs : ownFileDialogs_.get();
}

bool OrvantaApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportError(std::current_exception());
        return false;
    }
}

void OrvantaApplication::reportError(std::exception_ptr error)
{
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return;
    } catch (const std::bad_alloc&) {
        message = QStringLiteral("Out of system resources");
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    QWidget* owner = activeModalWidget();
    if (!owner)
        owner = activeWindow();
    boxes_->show(owner, QString::fromLatin1(kAppTitle), errorReportText(message), BoxIcon::Error);
}
