// The window operations the subsystems' handlers share: letting events
// run, showing a page or a message box and the language index. They reach
// the desktop only through the platform object. Kept apart from the skeleton
// in form.cpp, which calls into the subsystems, so that calls run one way:
// skeleton -> subsystem handlers -> these.
#include "form.h"
#include "platform.h"

#include <QComboBox>
#include <QTabWidget>

void TForm1::LetEventsRun() { platform_.letEventsRun(); }

void TForm1::ShowPage(QWidget* page) { PageControl1->setCurrentWidget(page); }

void TForm1::ShowMessage(const QString& title, const QString& text)
{
    platform_.showMessage(this, title, text, BoxIcon::None);
}

int TForm1::LanguageIndex() const { return ComboBox1->currentIndex(); }
