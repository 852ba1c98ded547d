// One timed run of each case, on the files and pictures prepared for it, with
// a stand-in for the window's desktop.
#pragma once

#include "app/platform.h"
#include "widgets/capture/synthetic_backend.h"
#include "compose/bitmap.h"
#include "options.h"

#include <QCoreApplication>
#include <QString>

#include <deque>
#include <memory>
#include <string>

class TForm1;

namespace bench {

// The window's desktop for a timed run: a build that shows a message box has
// not built anything, so the first box is recorded instead of waited on, and
// file dialogs are answered with the names queued for them, as a person
// choosing the files would.
class BenchPlatform final : public Platform {
public:
    struct Answer {
        FileDialogMode mode;
        QString fileName;
    };
    void showMessage(QWidget*, const QString& title, const QString& text, BoxIcon) override
    {
        if (firstMessage.isEmpty())
            firstMessage = title + QStringLiteral(": ") + text;
    }
    bool chooseFile(QWidget*, FileDialogMode mode, const QString&, QString& fileName) override
    {
        if (answers.empty()) {
            failure = "a file dialog was opened that no answer was queued for";
            return false;
        }
        const Answer answer = answers.front();
        answers.pop_front();
        if (answer.mode != mode) {
            failure = "a file dialog was opened in the wrong mode";
            return false;
        }
        fileName = answer.fileName;
        return true;
    }
    void putPicture(const QImage& picture) override { clipboard = picture; }
    bool takePicture(QImage& picture) override
    {
        picture = clipboard;
        return true;
    }
    bool openUrl(const QUrl&) override { return false; }
    void letEventsRun() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    CaptureBackend& capture() override { return *cameras; }
    void useLanguage(int) override { }

    QString firstMessage;
    QImage clipboard;
    // The cameras the window's capture channels reach; a case may put
    // others in their place.
    std::unique_ptr<CaptureBackend> cameras
        = std::make_unique<SyntheticBackend>([this](const QImage& picture) { putPicture(picture); });
    std::deque<Answer> answers;
    std::string failure;
};

// What the run works with at one size: the files in the temporary folder,
// or the user's, and the left picture where a case reads it from memory.
struct Material {
    std::string leftJpeg;
    std::string rightJpeg;
    std::string leftBmp;
    std::string leftPpm;
    std::string batchFolder; // eight pairs of links to the two JPEG files
    // A photograph as two hand-held shots (handheld.h), or the user's pair.
    std::string handheldLeftJpeg;
    std::string handheldRightJpeg;
    // The 200-megapixel pair (huge_pair.h), whatever the run's size.
    std::string hugeLeftJpeg;
    std::string hugeRightJpeg;
    TBitmap source;
};

// Everything the cases of a run share.
struct Bench {
    Options options;
    TForm1* form = nullptr;
    BenchPlatform* platform = nullptr;
    std::string folder; // the temporary folder, with a trailing slash
    std::string tools[kCaseCount]; // full paths of the peer programs found
    Material material;
    SizeSpec size;
    // The peak resident memory of the program the last run started, in MB,
    // for the cases that measure it; below zero for the others.
    double peakMb = -1;
};

// What the case id needs prepared before it is timed, as a set of flags for
// prepare.
unsigned needsOf(Case id);

// Makes what the selected cases need at this size, one picture in memory at
// a time where that is enough, so that a single case's peak memory is its own.
void prepare(Bench& b, unsigned needs);

// One timed run of a case; first says whether this is the run whose result
// gets checked.
double runOnce(const CaseSpec& spec, Bench& b, bool first);

// Throws unless the file at path is a JPEG picture of the given size; who
// names the program that wrote it.
void checkJpegFile(const std::string& path, const SizeSpec& size, const char* who);

// Throws unless the file at path is a JPEG picture no larger than size and
// at least minFraction of it on each side: a crop of a frame of that size.
// With mustCrop it must also be smaller on both sides.
void checkCroppedJpegFile(
    const std::string& path, const SizeSpec& size, double minFraction, bool mustCrop, const char* who);

} // namespace bench
