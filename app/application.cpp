#include "application.h"

#include "version.h"

#include "compose/errors.h"
#include "icon.h"
#include "platform.h"

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

void reportError(Platform& platform, std::exception_ptr error)
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
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    platform.showMessage(owner, QString::fromLatin1(kAppTitle), errorReportText(message), BoxIcon::Error);
}

void runHandler(Platform& platform, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        reportError(platform, std::current_exception());
    }
}

OrvantaApplication::OrvantaApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("orvanta"));
    // Wayland desktops find the menu entry, and its icon, by this name.
    setDesktopFileName(QStringLiteral(ORVANTA_APP_ID));
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

bool OrvantaApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (platform_)
            reportError(*platform_, std::current_exception());
        else
            qCritical("Orvanta: an error reached the event loop before the window was made");
        return false;
    }
}
