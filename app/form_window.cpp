// The window's own commands: the language switch, the help boxes and the
// About page with its outlined title, logos and notes.
#include "anchors.h"
#include "captions.h"
#include "form.h"
#include "logos.h"
#include "platform.h"
#include "version.h"
#include "widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QUrl>

namespace {

// The title's face: a bold sans-serif at 32 pixels.
QFont titleFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(32);
    font.setBold(true);
    return font;
}

QLabel* makeTitleLabel(QWidget* page, const char* name, QPoint at, const QColor& colour)
{
    QLabel* label = makeLabel(page, name, QString(), at.x(), at.y());
    label->setFont(titleFont());
    // The window's face is the button colour, whose text role labels take
    // unless told otherwise.
    label->setForegroundRole(QPalette::WindowText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QLabel* makeNote(QWidget* page, const char* name)
{
    auto* note = new QLabel(page);
    note->setObjectName(QLatin1String(name));
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return note;
}

} // namespace

void TForm1::createAboutPage()
{
    QWidget* page = TabSheet4;
    auto* layout = new AnchorLayout(page, kPageSize, true);
    const QColor text = palette().color(QPalette::WindowText);

    // Creation order is stacking order: the four labels in the text colour
    // lie 2 pixels out to each side under the green one, which outlines it.
    Label10 = makeTitleLabel(page, "Label10", { 150, 24 }, text);
    Label11 = makeTitleLabel(page, "Label11", { 154, 24 }, text);
    Label12 = makeTitleLabel(page, "Label12", { 152, 22 }, text);
    Label13 = makeTitleLabel(page, "Label13", { 152, 26 }, text);
    Image4 = new TLogo(page, glassesLogo());
    Image4->setObjectName(QStringLiteral("Image4"));
    Image4->move(4, 88);
    Label9 = makeTitleLabel(page, "Label9", { 152, 24 }, QColor(0, 128, 0));
    Image5 = new TLogo(page, titleLogo());
    Image5->setObjectName(QStringLiteral("Image5"));
    Image5->move(24, 24);
    for (TLogo* logo : { Image4, Image5 }) {
        logo->setAccessibleName(QStringLiteral(ORVANTA_WEB_PAGE));
        logo->setToolTip(QStringLiteral(ORVANTA_WEB_PAGE));
    }

    Label14 = makeLabel(page, "Label14", QString(), 152, 80);
    QFont small(QStringLiteral("Liberation Sans"));
    small.setPixelSize(11);
    small.setBold(true);
    Label14->setFont(small);
    Label14->setForegroundRole(QPalette::WindowText);
    QPalette navy = Label14->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    Label14->setPalette(navy);

    Label15 = makeNote(page, "Label15");
    layout->add(Label15, QRect(152, 104, 668, 81), akLeft | akTop | akRight);
    Label16 = makeNote(page, "Label16");
    layout->add(Label16, QRect(152, 104, 668, 33), akLeft | akTop | akRight);
    Label15->setVisible(noteShownAtStart("Label15"));
    Label16->setVisible(noteShownAtStart("Label16"));
    QWidget::setTabOrder(Image5, Image4);
}

void TForm1::ComboBox1Change(QObject*)
{
    applyLanguage(*this, LanguageIndex());
    ShowStreamStates();
    ShowGainNames();
    platform_.useLanguage(LanguageIndex());
}

void TForm1::Button6Click(QObject*)
{
    const int language = LanguageIndex();
    const QString title = messageText(Message::HelpTitle, language);
    ShowMessage(title, messageText(Message::HelpFirst, language));
    ShowMessage(title, messageText(Message::HelpSecond, language));
}

void TForm1::Image4Click(QObject*)
{
    // Whether the desktop could open the page is not the window's concern.
    platform_.openUrl(QUrl(QStringLiteral(ORVANTA_WEB_PAGE)));
}
