// Shared pieces of the window tests: a scripted platform that records the
// boxes the window shows, answers its file dialogs from a script, keeps a
// clipboard of its own, lets events run for real and has synthetic cameras,
// and a main that runs the tests under the program's own application object
// with that platform.
#pragma once

#include "app/application.h"
#include "app/dialogs.h"
#include "app/form.h"
#include "app/platform.h"
#include "widgets/capture/synthetic_backend.h"

#include <QCoreApplication>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct ShownBox {
    QString title;
    QString text;
    BoxIcon icon;
};

struct ShownDialog {
    FileDialogMode mode;
    QString filter;
    QString fileName;
};

class ScriptedPlatform final : public Platform {
public:
    void showMessage(QWidget*, const QString& title, const QString& text, BoxIcon icon) override
    {
        shown.push_back({ title, text, icon });
        if (whileBoxIsOpen)
            whileBoxIsOpen();
    }
    // Answers with the next name queued (taken as typed), or cancels when
    // the next answer is a cancel or none is queued.
    bool chooseFile(QWidget*, FileDialogMode mode, const QString& filter, QString& fileName) override
    {
        dialogs.push_back({ mode, filter, fileName });
        if (answers.empty())
            return false;
        const QString answer = answers.front();
        answers.pop_front();
        if (answer.isNull())
            return false;
        fileName = answer;
        return true;
    }
    void putPicture(const QImage& picture) override
    {
        clipboard = picture;
        ++clipboardWrites;
    }
    bool takePicture(QImage& picture) override
    {
        if (clipboardBusy)
            return false;
        picture = clipboard;
        return true;
    }
    bool openUrl(const QUrl& url) override
    {
        opened.push_back(url);
        return openUrlWorks;
    }
    void letEventsRun() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    CaptureBackend& capture() override { return otherCameras ? *otherCameras : cameras; }
    // Recorded, and spoken for real: the camera dialogs the window opens are
    // in its language.
    void useLanguage(int languageIndex) override
    {
        languages.push_back(languageIndex);
        translations.use(languageIndex);
    }

    void answer(const QString& name) { answers.push_back(name); }
    void cancel() { answers.push_back(QString()); }
    // Forgets what was recorded and queued.
    void reset()
    {
        shown.clear();
        dialogs.clear();
        answers.clear();
        opened.clear();
        clipboard = QImage();
        clipboardWrites = 0;
        clipboardBusy = false;
        openUrlWorks = true;
        whileBoxIsOpen = nullptr;
        cameras.restoreDefaults();
        otherCameras.reset();
        languages.clear();
    }

    std::vector<ShownBox> shown;
    std::vector<ShownDialog> dialogs;
    std::deque<QString> answers;
    std::vector<QUrl> opened;
    std::vector<int> languages; // every language the desktop was asked to speak
    QtTranslations translations;
    QImage clipboard;
    int clipboardWrites = 0;
    bool clipboardBusy = false; // another program holds the clipboard open
    bool openUrlWorks = true;
    // What happens while a box is open before the user closes it, for
    // instance time passing with timers ticking; nothing when empty.
    std::function<void()> whileBoxIsOpen;
    SyntheticBackend cameras { [this](const QImage& picture) { putPicture(picture); } };
    // When set, the window reaches these cameras instead.
    std::unique_ptr<CaptureBackend> otherCameras;
};

// The platform of this test program's application and windows.
inline ScriptedPlatform& testPlatform()
{
    static ScriptedPlatform platform;
    return platform;
}

// Records the boxes shown while it lives.
struct RecordingBoxes {
    RecordingBoxes() { testPlatform().shown.clear(); }
    std::vector<ShownBox>& shown = testPlatform().shown;
};

// A window on the screen, on a platform back to its fresh state.
struct ShownWindow {
    ShownWindow()
    {
        testPlatform().reset();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    TForm1 form { testPlatform() };
    ScriptedPlatform& platform = testPlatform();
};

#define ORVANTA_GUI_TEST_MAIN(TestObject)                                                                              \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        OrvantaApplication app(argc, argv);                                                                            \
        app.reportErrorsThrough(&testPlatform());                                                                      \
        TestObject tc;                                                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
