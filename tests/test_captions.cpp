// The caption table: every caption of the window comes from it, at start in
// Russian, and applying a language sets every row of it and nothing else.
#include "app/captions.h"
#include "app/form.h"
#include "app/widgets.h"
#include "gui_test.h"
#include "window_captions.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QSet>
#include <QTabWidget>

class TestCaptions : public QObject {
    Q_OBJECT
private slots:
    // Each control shows its caption at start, then its English and Russian
    // ones as they are applied; the fixed captions never change. The
    // expected captions are the typed ones, not the program's table.
    void everyCaptionReachesItsControl()
    {
        TForm1 form { testPlatform() };
        for (const ExpectedCaption& c : kExpectedCaptions)
            QCOMPARE(shownCaption(form, c.control), QString::fromUtf8(c.atStart ? c.atStart : c.russian));
        for (int language : { 1, 0, 7 }) {
            applyLanguage(form, language);
            for (const ExpectedCaption& c : kExpectedCaptions)
                QCOMPARE(shownCaption(form, c.control), QString::fromUtf8(language == 0 ? c.russian : c.english));
            for (const ExpectedFixedCaption& fixed : kExpectedFixedCaptions)
                QCOMPARE(shownCaption(form, fixed.control), QString::fromUtf8(fixed.text));
        }
    }

    // The program's tables hold exactly the controls expected above, so no
    // caption goes untested.
    void tablesHoldTheExpectedControls()
    {
        QStringList switchable, expectedSwitchable, fixed, expectedFixed;
        for (const CaptionRow& row : switchableCaptions())
            switchable << QLatin1String(row.control);
        for (const ExpectedCaption& c : kExpectedCaptions)
            expectedSwitchable << QLatin1String(c.control);
        for (const FixedCaption& f : fixedCaptions())
            fixed << QLatin1String(f.control);
        for (const ExpectedFixedCaption& f : kExpectedFixedCaptions)
            expectedFixed << QLatin1String(f.control);
        for (QStringList* list : { &switchable, &expectedSwitchable, &fixed, &expectedFixed })
            list->sort();
        QCOMPARE(switchable, expectedSwitchable);
        QCOMPARE(fixed, expectedFixed);
    }

    // The look-alike letters: the X offset label starts with the Cyrillic
    // capital Ha and holds the Latin X once Russian is applied; the block
    // step's label ends in the Cyrillic small ha in both languages.
    void lookAlikeLetters()
    {
        TForm1 form { testPlatform() };
        QCOMPARE(form.Label6->text(), QStringLiteral("Смещение по \u0425"));
        applyLanguage(form, 0);
        QCOMPARE(form.Label6->text(), QStringLiteral("Смещение по X"));
        QCOMPARE(form.Label17->text(), QStringLiteral("П/П \u0445"));
        applyLanguage(form, 1);
        QCOMPARE(form.Label17->text(), QStringLiteral("P/V \u0445"));
    }

    // No caption of the window is set anywhere but from the tables: every
    // control that shows a caption has a row.
    void noCaptionOutsideTheTables()
    {
        TForm1 form { testPlatform() };
        QSet<QString> rows;
        for (const CaptionRow& row : switchableCaptions())
            rows.insert(QLatin1String(row.control));
        for (const FixedCaption& fixed : fixedCaptions())
            rows.insert(QLatin1String(fixed.control));
        QStringList missing;
        const auto need = [&](const QWidget* w, const QString& caption) {
            if (!caption.isEmpty() && !rows.contains(w->objectName()))
                missing << w->objectName() + " \"" + caption + "\"";
        };
        for (QAbstractButton* b : form.findChildren<QAbstractButton*>())
            need(b, b->text());
        for (QLabel* l : form.findChildren<QLabel*>())
            need(l, l->text());
        for (QGroupBox* g : form.findChildren<QGroupBox*>())
            need(g, g->title());
        for (TPanel* p : form.findChildren<TPanel*>())
            need(p, p->caption());
        for (int i = 0; i < form.PageControl1->count(); ++i)
            need(form.PageControl1->widget(i), form.PageControl1->tabText(i));
        need(&form, form.windowTitle());
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
    }

    // Labels that size themselves take the width of a new caption at once.
    void labelsTakeTheWidthOfTheirCaption()
    {
        TForm1 form { testPlatform() };
        for (int language : { 1, 0 }) {
            applyLanguage(form, language);
            for (const CaptionRow& row : switchableCaptions()) {
                if (row.kind != CaptionKind::Label)
                    continue;
                auto* label = form.findChild<QLabel*>(QLatin1String(row.control));
                QCOMPARE(label->width(), label->sizeHint().width());
            }
        }
    }

    void messagesFollowTheLanguageIndex()
    {
        QCOMPARE(messageText(Message::SizeMismatchTitle, 0), QStringLiteral("Внимание"));
        QCOMPARE(messageText(Message::SizeMismatchTitle, 1), QStringLiteral("Attention"));
        QCOMPARE(messageText(Message::SizeMismatchTitle, 5), QStringLiteral("Attention"));
        QCOMPARE(messageText(Message::SizeMismatchText, 0),
            QStringLiteral("Кадры имеют разный размер! Нельзя построить анаглиф!"));
        QCOMPARE(messageText(Message::SizeMismatchText, 1),
            QStringLiteral("Frames have not equal size! Anaglyph cannot be builded!"));
    }
};

ORVANTA_GUI_TEST_MAIN(TestCaptions)
#include "test_captions.moc"
