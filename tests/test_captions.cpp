// The caption table: every caption of the window comes from it, at start in
// Russian, and applying a language sets every row of it and nothing else.
#include "app/captions.h"
#include "app/form.h"
#include "app/widgets.h"
#include "gui_test.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QSet>
#include <QTabWidget>

namespace {

// What a control of a row shows now, read the way a user sees it.
QString shown(TForm1& form, const char* name, CaptionKind kind)
{
    QObject* control = form.objectName() == QLatin1String(name) ? &form : form.findChild<QObject*>(QLatin1String(name));
    if (!control)
        return QStringLiteral("<no control %1>").arg(QLatin1String(name));
    switch (kind) {
    case CaptionKind::Title:
        return static_cast<QWidget*>(control)->windowTitle();
    case CaptionKind::GroupBox:
        return static_cast<QGroupBox*>(control)->title();
    case CaptionKind::Button:
        return static_cast<QAbstractButton*>(control)->text();
    case CaptionKind::Label:
    case CaptionKind::FixedLabel:
        return static_cast<QLabel*>(control)->text();
    case CaptionKind::Panel:
        return static_cast<TPanel*>(control)->caption();
    case CaptionKind::Page:
        return form.PageControl1->tabText(form.PageControl1->indexOf(static_cast<QWidget*>(control)));
    }
    return QString();
}

} // namespace

class TestCaptions : public QObject {
    Q_OBJECT
private slots:
    // Each row's control shows the row's start caption, then its English and
    // Russian ones as they are applied; the fixed captions never change.
    void everyRowReachesItsControl()
    {
        TForm1 form { testPlatform() };
        for (const CaptionRow& row : switchableCaptions())
            QCOMPARE(shown(form, row.control, row.kind), startCaption(row));
        for (int language : { 1, 0, 7 }) {
            applyLanguage(form, language);
            for (const CaptionRow& row : switchableCaptions()) {
                const QString expected = QString::fromUtf16(language == 0 ? row.russian : row.english);
                QCOMPARE(shown(form, row.control, row.kind), expected);
            }
            for (const FixedCaption& fixed : fixedCaptions())
                QCOMPARE(shown(form, fixed.control, fixed.kind), QString::fromUtf16(fixed.text));
        }
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
