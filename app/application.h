// The application object. Every event passes through notify(), which is the
// one place where an error escaping a handler, a timer tick or a repaint is
// caught and reported; the event loop then carries on.
#pragma once

#include <QApplication>

#include <exception>
#include <memory>

class FileDialogs;
class MessageBoxes;

inline constexpr const char* kAppTitle = "Orvanta";

// The text of the general error report: the message, with a full stop added
// when it does not end in "." or a character that sorts before it.
QString errorReportText(const QString& message);

// The font every control of the window uses.
QFont windowFont();

class OrvantaApplication : public QApplication {
public:
    OrvantaApplication(int& argc, char** argv);
    ~OrvantaApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the report for an error that escaped a handler.
    void reportError(std::exception_ptr error);

    // The boxes the report is shown in; the application keeps ownership of
    // its default ones, the caller keeps ownership of replacements.
    void setMessageBoxes(MessageBoxes* boxes);
    MessageBoxes* messageBoxes() const { return boxes_; }
    // The file dialogs, in the same way.
    void setFileDialogs(FileDialogs* dialogs);
    FileDialogs* fileDialogs() const { return fileDialogs_; }

    static OrvantaApplication* instance();

    // Wraps a handler for connecting to a control's signal. An error escaping
    // the handler is reported at once, before it could unwind through the
    // toolkit's own frames, which are not built to pass exceptions on;
    // notify() stays the net for repaints and everything else.
    template <class Handler>
    static auto guarded(Handler handler)
    {
        return [handler = std::move(handler)]() {
            try {
                handler();
            } catch (...) {
                instance()->reportError(std::current_exception());
            }
        };
    }

private:
    std::unique_ptr<MessageBoxes> ownBoxes_;
    MessageBoxes* boxes_;
    std::unique_ptr<FileDialogs> ownFileDialogs_;
    FileDialogs* fileDialogs_;
};
