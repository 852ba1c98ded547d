// Shared pieces of the window tests: a main that runs under the program's
// own application object, and message boxes that record instead of waiting
// for a person.
#pragma once

#include "app/application.h"
#include "app/dialogs.h"

#include <QTest>
#include <QWidget>

#include <vector>

struct ShownBox {
    QString title;
    QString text;
    BoxIcon icon;
};

class RecordingBoxes : public MessageBoxes {
public:
    RecordingBoxes() { OrvantaApplication::instance()->setMessageBoxes(this); }
    ~RecordingBoxes() override { OrvantaApplication::instance()->setMessageBoxes(nullptr); }
    void show(QWidget*, const QString& title, const QString& text, BoxIcon icon) override
    {
        shown.push_back({ title, text, icon });
    }
    std::vector<ShownBox> shown;
};

#define ORVANTA_GUI_TEST_MAIN(TestObject)                                                                              \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        OrvantaApplication app(argc, argv);                                                                            \
        TestObject tc;                                                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
