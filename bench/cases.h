// One timed run of each case, on the files and pictures prepared for it, with
// stand-ins for the window's message boxes and file dialogs.
#pragma once

#include "app/dialogs.h"
#include "compose/bitmap.h"
#include "options.h"

#include <QString>

#include <deque>
#include <string>

class TForm1;

namespace bench {

// A build that shows a message box has not built anything; record the box
// instead of waiting for someone to close it.
class FailingBoxes : public MessageBoxes {
public:
    void show(QWidget*, const QString& title, const QString& text, BoxIcon) override
    {
        if (first.isEmpty())
            first = title + QStringLiteral(": ") + text;
    }
    QString first;
};

// Answers the window's file dialogs with the names queued for them, as a
// person choosing the files would.
class ScriptedDialogs : public FileDialogs {
public:
    struct Answer {
        FileDialogMode mode;
        QString fileName;
    };
    bool choose(QWidget*, FileDialogMode mode, const QString&, QString& fileName) override
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
    TBitmap source;
};

// Everything the cases of a run share.
struct Bench {
    Options options;
    TForm1* form = nullptr;
    ScriptedDialogs* dialogs = nullptr;
    FailingBoxes* boxes = nullptr;
    std::string folder; // the temporary folder, with a trailing slash
    std::string tools[kCaseCount]; // full paths of the peer programs found
    Material material;
    SizeSpec size;
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

} // namespace bench
