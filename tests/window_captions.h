// The window's captions as a user reads them, typed out here rather than
// taken from the program's caption table, so that a caption changed there
// by mistake fails the tests that compare against these. Also: reading the
// caption a control shows, by what the control is.
#pragma once

#include "app/form.h"
#include "app/widgets.h"
#include "version.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>

#include <array>

struct ExpectedCaption {
    const char* control;
    const char* russian;
    const char* english;
    // What the control shows before any language is applied, when that is
    // not the Russian caption.
    const char* atStart = nullptr;
};

#define ORVANTA_TEST_TITLE "Orvanta " ORVANTA_VERSION

// Every caption the language switch sets.
inline constexpr std::array kExpectedCaptions = {
    ExpectedCaption { "GroupBox2", "Файлы", "Files" },
    ExpectedCaption { "BitBtn1", "Открыть 1 кадр", "Open 1st frame" },
    ExpectedCaption { "BitBtn2", "Открыть 2 кадр", "Open 2nd frame" },
    ExpectedCaption { "GroupBox3", "Подстройка под очки", "Glasses setup" },
    ExpectedCaption { "Label1", "Красный R", "Red R" },
    ExpectedCaption { "Label2", "Голубой G, B", "Cyan G, B" },
    ExpectedCaption { "Button6", "Помощь", "Help" },
    ExpectedCaption { "GroupBox1", "Построение", "Anaglyph building" },
    // Laid out with the Cyrillic capital Ha; the Russian caption has the
    // Latin X.
    ExpectedCaption { "Label6", "Смещение по X", "X offset", "Смещение по \u0425" },
    ExpectedCaption { "Label7", "Смещение по Y", "Y offset" },
    ExpectedCaption { "CheckBox1", "Обмен R и GB", "R-GB exchange" },
    ExpectedCaption { "Button3", "Построить", "Build!" },
    ExpectedCaption { "Button5", "Предпросмотр", "Preview" },
    ExpectedCaption { "TabSheet2", "1 кадр (Левая камера, Красный)", "1st frame (Left camera, Red)" },
    ExpectedCaption { "TabSheet1", "2 кадр (Правая камера, Голубой)", "2nd frame (Right camera, Cyan)" },
    ExpectedCaption { "TabSheet3", "Анаглиф", "Anaglyph" },
    ExpectedCaption { "TabSheet4", "О программе", "About this soft" },
    ExpectedCaption { "TabSheet5", "Веб-камера", "Webcam" },
    ExpectedCaption { "Label9", ORVANTA_TEST_TITLE, ORVANTA_TEST_TITLE },
    ExpectedCaption { "Label10", ORVANTA_TEST_TITLE, ORVANTA_TEST_TITLE },
    ExpectedCaption { "Label11", ORVANTA_TEST_TITLE, ORVANTA_TEST_TITLE },
    ExpectedCaption { "Label12", ORVANTA_TEST_TITLE, ORVANTA_TEST_TITLE },
    ExpectedCaption { "Label13", ORVANTA_TEST_TITLE, ORVANTA_TEST_TITLE },
    ExpectedCaption { "Label14", "", "" },
    ExpectedCaption { "Form1", "Orvanta", "Orvanta" },
    // The Cyrillic small ha in both languages.
    ExpectedCaption { "Label17", "П/П \u0445", "P/V \u0445" },
    ExpectedCaption { "RadioButton1", "Использовать одну веб-камеру", "Use one webcam" },
    ExpectedCaption { "RadioButton2", "Использовать две веб-камеры", "Use two webcams" },
    ExpectedCaption { "Button1x", "Поток", "Stream" },
    ExpectedCaption { "Button2", "Подключить", "Connect" },
    ExpectedCaption { "Button4x", "Отключить", "Disconnect" },
    ExpectedCaption { "Button7", "Поток", "Stream" },
    ExpectedCaption { "Button8", "Подключить", "Connect" },
    ExpectedCaption { "Button9", "Отключить", "Disconnect" },
    ExpectedCaption { "Button10", "Снять в 1 кадр", "Get to 1st frame" },
    ExpectedCaption { "Button11", "Снять во 2 кадр", "Get to 2nd frame" },
    ExpectedCaption { "Button13", "Снять в 1 кадр", "Get to 1st frame" },
    ExpectedCaption { "Button12", "Снять во 2 кадр", "Get to 2nd frame" },
    ExpectedCaption { "Button14", "Снять оба кадра", "Get both frames" },
    ExpectedCaption { "CheckBox2", "Крест", "Cross" },
    ExpectedCaption { "CheckBox3", "Крест", "Cross" },
    ExpectedCaption { "BitBtn3", "Сохранить анаглиф в JPG", "Save anaglyph as JPG" },
    ExpectedCaption { "BitBtn8", "Сохранить анаглиф в BMP", "Save anaglyph as BMP" },
    ExpectedCaption { "BitBtn4", "Сохранить кадр в JPG", "Save frame as JPG" },
    ExpectedCaption { "BitBtn6", "Сохранить кадр в BMP", "Save frame as BMP" },
    ExpectedCaption { "BitBtn5", "Сохранить кадр в JPG", "Save frame as JPG" },
    ExpectedCaption { "BitBtn7", "Сохранить кадр в BMP", "Save frame as BMP" },
    ExpectedCaption { "Button1z", "Центрировать", "Centering" },
    ExpectedCaption { "Button1s", "Источник", "Source" },
    ExpectedCaption { "Button1f", "Формат", "Format" },
    ExpectedCaption { "Button2s", "Источник", "Source" },
    ExpectedCaption { "Button2f", "Формат", "Format" },
    ExpectedCaption { "BitBtn9", "Сохранить анаглиф и оба кадра в BMP", "Save anaglyph and both frames as BMP" },
};

// Captions the switch leaves alone.
struct ExpectedFixedCaption {
    const char* control;
    const char* text;
};
inline constexpr std::array kExpectedFixedCaptions = {
    ExpectedFixedCaption { "Label8", "Интерфейс/Interface:" },
    ExpectedFixedCaption { "Label3", "255" },
    ExpectedFixedCaption { "Label4", "255" },
    ExpectedFixedCaption { "Label5", "255" },
    ExpectedFixedCaption { "Panel3", "Panel3" },
    ExpectedFixedCaption { "Label15",
        "Orvanta строит красно-голубые анаглифы: из двух кадров одной сцены, снятых с мест левого и правого "
        "глаза, получается одна картинка, объёмная в очках с красным и голубым светофильтрами. Кадры открываются "
        "из файлов JPEG и BMP или снимаются с одной или двух веб-камер; второй кадр можно сдвинуть относительно "
        "первого, а готовый анаглиф сохранить в JPEG или BMP. Перед построением подстройте каналы под свои очки: "
        "как это сделать, объясняет кнопка \"Помощь\" в верхней части окна." },
    ExpectedFixedCaption { "Label16",
        "Orvanta builds red/cyan anaglyphs from two frames of one scene, opened from JPEG or BMP files or grabbed "
        "from webcams. Tune the channels to your glasses first: the \"Help\" button above explains how." },
};

// The caption the control named shows, read as a user sees it: the title
// bar for the window, the tab for a page, the text drawn on a panel.
inline QString shownCaption(TForm1& form, const char* name)
{
    if (form.objectName() == QLatin1String(name))
        return form.windowTitle();
    auto* control = form.findChild<QWidget*>(QLatin1String(name));
    if (!control)
        return QStringLiteral("<no control %1>").arg(QLatin1String(name));
    const int page = form.PageControl1->indexOf(control);
    if (page >= 0)
        return form.PageControl1->tabText(page);
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* box = qobject_cast<QGroupBox*>(control))
        return box->title();
    if (auto* panel = qobject_cast<TPanel*>(control))
        return panel->caption();
    return QStringLiteral("<no caption on %1>").arg(QLatin1String(name));
}
