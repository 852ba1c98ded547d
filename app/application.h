// The application object and the general error report. Every event passes
// through notify(), which is the net for an error escaping a repaint, a
// timer tick or anything else; handlers of the window's controls are run
// through runHandler, which reports an error at once, before it could unwind
// through the toolkit's own frames. Either way the event loop carries on.
#pragma once

#include "layer.h"

#include <QApplication>

#include <exception>
#include <functional>

class Platform;

inline constexpr const char* kAppTitle = "Orvanta";

// The text of the general error report: the message, with a full stop added
// when it does not end in "." or a character that sorts before it.
QString errorReportText(const QString& message);

// Shows the general error report for an error: a box titled "Orvanta" with
// the error icon and the error's message. An EAbort is silent, and running
// out of memory reads "Out of system resources".
void reportError(Platform& platform, std::exception_ptr error);

// Runs a handler; an error escaping it is reported and goes no further.
void runHandler(Platform& platform, const std::function<void()>& handler);

// The font every control of the window uses.
QFont windowFont();

// Made before the platform and destroyed after it: the platform holds Qt
// objects (the desktop's translations among them) that need the application
// while they are made and when they go.
class OrvantaApplication : public QApplication {
public:
    OrvantaApplication(int& argc, char** argv);
    ~OrvantaApplication() override;

    // The platform that shows the reports of errors reaching notify(), or
    // nullptr once it is gone; until one is given such errors are only
    // logged.
    void reportErrorsThrough(Platform* platform) { platform_ = platform; }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    Platform* platform_ = nullptr;
};
