#include "captions.h"

#include "form.h"
#include "version.h"
#include "widgets.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>

#include <array>
#include <stdexcept>
#include <string>

namespace {

using K = CaptionKind;

// The About page's title, drawn by five labels.
constexpr const char16_t* kTitle = u"Orvanta " ORVANTA_VERSION;

// The About page's notes; each fits its label at the window's first size.
constexpr const char16_t* kRussianNote
    = u"Orvanta строит красно-голубые анаглифы: из двух кадров одной сцены, снятых с мест левого и правого "
      u"глаза, получается одна картинка, объёмная в очках с красным и голубым светофильтрами. Кадры открываются "
      u"из файлов JPEG и BMP или снимаются с одной или двух веб-камер; второй кадр можно сдвинуть относительно "
      u"первого, а готовый анаглиф сохранить в JPEG или BMP. Перед построением подстройте каналы под свои очки: "
      u"как это сделать, объясняет кнопка \"Помощь\" в верхней части окна.";
constexpr const char16_t* kEnglishNote
    = u"Orvanta builds red/cyan anaglyphs from two frames of one scene, opened from JPEG or BMP files or grabbed "
      u"from webcams. Tune the channels to your glasses first: the \"Help\" button above explains how.";

// The order is the language switch's. Label6 ends in the Latin X, Label17 in
// the Cyrillic small ha (U+0445) in both languages.
constexpr std::array kSwitchable = {
    CaptionRow { "GroupBox2", K::GroupBox, u"Файлы", u"Files" },
    CaptionRow { "BitBtn1", K::Button, u"Открыть 1 кадр", u"Open 1st frame" },
    CaptionRow { "BitBtn2", K::Button, u"Открыть 2 кадр", u"Open 2nd frame" },
    CaptionRow { "GroupBox3", K::GroupBox, u"Подстройка под очки", u"Glasses setup" },
    CaptionRow { "Label1", K::Label, u"Красный R", u"Red R" },
    CaptionRow { "Label2", K::Label, u"Голубой G, B", u"Cyan G, B" },
    CaptionRow { "Button6", K::Button, u"Помощь", u"Help" },
    CaptionRow { "GroupBox1", K::GroupBox, u"Построение", u"Anaglyph building" },
    CaptionRow { "Label6", K::Label, u"Смещение по X", u"X offset" },
    CaptionRow { "Label7", K::Label, u"Смещение по Y", u"Y offset" },
    CaptionRow { "CheckBox1", K::Button, u"Обмен R и GB", u"R-GB exchange" },
    CaptionRow { "Button3", K::Button, u"Построить", u"Build!" },
    CaptionRow { "Button5", K::Button, u"Предпросмотр", u"Preview" },
    CaptionRow { "TabSheet2", K::Page, u"1 кадр (Левая камера, Красный)", u"1st frame (Left camera, Red)" },
    CaptionRow { "TabSheet1", K::Page, u"2 кадр (Правая камера, Голубой)", u"2nd frame (Right camera, Cyan)" },
    CaptionRow { "TabSheet3", K::Page, u"Анаглиф", u"Anaglyph" },
    CaptionRow { "TabSheet4", K::Page, u"О программе", u"About this soft" },
    CaptionRow { "TabSheet5", K::Page, u"Веб-камера", u"Webcam" },
    CaptionRow { "Label9", K::Label, kTitle, kTitle },
    CaptionRow { "Label10", K::Label, kTitle, kTitle },
    CaptionRow { "Label11", K::Label, kTitle, kTitle },
    CaptionRow { "Label12", K::Label, kTitle, kTitle },
    CaptionRow { "Label13", K::Label, kTitle, kTitle },
    CaptionRow { "Label14", K::Label, u"", u"" },
    CaptionRow { "Form1", K::Title, u"Orvanta", u"Orvanta" },
    CaptionRow { "Label17", K::FixedLabel, u"П/П \u0445", u"P/V \u0445" },
    CaptionRow { "RadioButton1", K::Button, u"Использовать одну веб-камеру", u"Use one webcam" },
    CaptionRow { "RadioButton2", K::Button, u"Использовать две веб-камеры", u"Use two webcams" },
    CaptionRow { "Button1x", K::Button, u"Поток", u"Stream" },
    CaptionRow { "Button2", K::Button, u"Подключить", u"Connect" },
    CaptionRow { "Button4x", K::Button, u"Отключить", u"Disconnect" },
    CaptionRow { "Button7", K::Button, u"Поток", u"Stream" },
    CaptionRow { "Button8", K::Button, u"Подключить", u"Connect" },
    CaptionRow { "Button9", K::Button, u"Отключить", u"Disconnect" },
    CaptionRow { "Button10", K::Button, u"Снять в 1 кадр", u"Get to 1st frame" },
    CaptionRow { "Button11", K::Button, u"Снять во 2 кадр", u"Get to 2nd frame" },
    CaptionRow { "Button13", K::Button, u"Снять в 1 кадр", u"Get to 1st frame" },
    CaptionRow { "Button12", K::Button, u"Снять во 2 кадр", u"Get to 2nd frame" },
    CaptionRow { "Button14", K::Button, u"Снять оба кадра", u"Get both frames" },
    CaptionRow { "CheckBox2", K::Button, u"Крест", u"Cross" },
    CaptionRow { "CheckBox3", K::Button, u"Крест", u"Cross" },
    CaptionRow { "BitBtn3", K::Button, u"Сохранить анаглиф в JPG", u"Save anaglyph as JPG" },
    CaptionRow { "BitBtn8", K::Button, u"Сохранить анаглиф в BMP", u"Save anaglyph as BMP" },
    CaptionRow { "BitBtn4", K::Button, u"Сохранить кадр в JPG", u"Save frame as JPG" },
    CaptionRow { "BitBtn6", K::Button, u"Сохранить кадр в BMP", u"Save frame as BMP" },
    CaptionRow { "BitBtn5", K::Button, u"Сохранить кадр в JPG", u"Save frame as JPG" },
    CaptionRow { "BitBtn7", K::Button, u"Сохранить кадр в BMP", u"Save frame as BMP" },
    CaptionRow { "Button1z", K::Button, u"Центрировать", u"Centering" },
    CaptionRow { "Button1s", K::Button, u"Источник", u"Source" },
    CaptionRow { "Button1f", K::Button, u"Формат", u"Format" },
    CaptionRow { "Button2s", K::Button, u"Источник", u"Source" },
    CaptionRow { "Button2f", K::Button, u"Формат", u"Format" },
    // An English window deserves an English caption here too.
    CaptionRow { "BitBtn9", K::Button, u"Сохранить анаглиф и оба кадра в BMP", u"Save anaglyph and both frames as BMP" },
};

constexpr std::array kFixed = {
    FixedCaption { "Label8", K::Label, u"Интерфейс/Interface:" },
    FixedCaption { "Label3", K::Label, u"255" },
    FixedCaption { "Label4", K::Label, u"255" },
    FixedCaption { "Label5", K::Label, u"255" },
    FixedCaption { "Panel3", K::Panel, u"Panel3" },
    FixedCaption { "Label15", K::FixedLabel, kRussianNote },
    FixedCaption { "Label16", K::FixedLabel, kEnglishNote },
};

// Which note the About page shows in each language; set by the switch right
// after Label17's caption.
struct NoteRow {
    const char* control;
    bool shownInRussian;
};
constexpr std::array kNotes = { NoteRow { "Label15", true }, NoteRow { "Label16", false } };
constexpr const char* kNotesAfter = "Label17";

struct MessageRow {
    Message message;
    const char16_t* russian;
    const char16_t* english;
};

constexpr std::array kMessages = {
    MessageRow { Message::SizeMismatchTitle, u"Внимание", u"Attention" },
    MessageRow { Message::SizeMismatchText, u"Кадры имеют разный размер! Нельзя построить анаглиф!",
        u"Frames have not equal size! Anaglyph cannot be builded!" },
    MessageRow { Message::HelpTitle, u"Помощь", u"Помощь" },
    MessageRow { Message::HelpFirst,
        u"Смотрите на область подстройки через красный светофильтр очков. Подстраивайте движки R и GB так, чтобы "
        u"через красный светофильтр панель красного цвета была похожа на белую область, а панель голубого цвета на "
        u"черную область.",
        u"See to setup area via RED glass. Tune R and GB sliders until you see RED panel seems to be as WHITE area, "
        u"CYAN panel seems to be as BLACK area." },
    MessageRow { Message::HelpSecond,
        u"Затем проделайте эту же процедуру, рассматривая область через голубой светофильтр. В этом случае голубая "
        u"панель должна казаться белой, а красная - черной. Запомните настроенные цифры и всегда выставляйте их на "
        u"бегунках.",
        u"After it - repeat it with CYAN glass. In this case tune until CYAN seems to be WHITE, RED seems to be "
        u"BLACK. Remember 3 values of sliders. Set this values everytime as you run this program." },
    MessageRow { Message::Streaming, u"Идёт поток", u"Streaming" },
    MessageRow { Message::NotStreaming, u"Поток остановлен", u"Stopped" },
    MessageRow { Message::GainRed, u"Красный R", u"Red R" },
    MessageRow { Message::GainGreen, u"Голубой G", u"Cyan G" },
    MessageRow { Message::GainBlue, u"Голубой B", u"Cyan B" },
};

QString text(const char16_t* s) { return QString::fromUtf16(s); }

QObject* control(TForm1& form, const char* name)
{
    if (form.objectName() == QLatin1String(name))
        return &form;
    QObject* found = form.findChild<QObject*>(QLatin1String(name));
    if (!found)
        throw std::logic_error(std::string("the caption table names a control the window lacks: ") + name);
    return found;
}

void setCaption(TForm1& form, const char* name, CaptionKind kind, const QString& caption)
{
    QObject* target = control(form, name);
    switch (kind) {
    case K::Title:
        static_cast<QWidget*>(target)->setWindowTitle(caption);
        return;
    case K::GroupBox:
        static_cast<QGroupBox*>(target)->setTitle(caption);
        return;
    case K::Button:
        static_cast<QAbstractButton*>(target)->setText(caption);
        return;
    case K::Label:
        static_cast<QLabel*>(target)->setText(caption);
        static_cast<QLabel*>(target)->adjustSize();
        return;
    case K::FixedLabel:
        static_cast<QLabel*>(target)->setText(caption);
        return;
    case K::Panel:
        static_cast<TPanel*>(target)->setCaption(caption);
        return;
    case K::Page: {
        auto* page = static_cast<QWidget*>(target);
        form.PageControl1->setTabText(form.PageControl1->indexOf(page), caption);
        return;
    }
    }
}

} // namespace

std::span<const CaptionRow> switchableCaptions() { return kSwitchable; }

std::span<const FixedCaption> fixedCaptions() { return kFixed; }

QString messageText(Message message, int languageIndex)
{
    for (const MessageRow& row : kMessages)
        if (row.message == message)
            return text(languageIndex == 0 ? row.russian : row.english);
    return QString();
}

QString startCaption(const CaptionRow& row)
{
    // The X offset label is laid out with the Cyrillic capital Ha, which looks
    // like the Latin X that the Russian column gives it once applied.
    if (QLatin1String(row.control) == QLatin1String("Label6"))
        return QStringLiteral("Смещение по \u0425");
    return text(row.russian);
}

QString captionIn(const CaptionRow& row, int languageIndex)
{
    return text(languageIndex == 0 ? row.russian : row.english);
}

void applyStartCaptions(TForm1& form)
{
    for (const CaptionRow& row : kSwitchable)
        setCaption(form, row.control, row.kind, startCaption(row));
    for (const FixedCaption& fixed : kFixed)
        setCaption(form, fixed.control, fixed.kind, text(fixed.text));
}

void applyLanguage(TForm1& form, int languageIndex)
{
    for (const CaptionRow& row : kSwitchable) {
        setCaption(form, row.control, row.kind, captionIn(row, languageIndex));
        if (QLatin1String(row.control) == QLatin1String(kNotesAfter))
            for (const NoteRow& note : kNotes)
                static_cast<QWidget*>(control(form, note.control))
                    ->setVisible(note.shownInRussian == (languageIndex == 0));
    }
}

bool noteShownAtStart(const char* control)
{
    for (const NoteRow& note : kNotes)
        if (QLatin1String(note.control) == QLatin1String(control))
            return note.shownInRussian;
    return false;
}
