// Every caption of the window, in Russian and English, in one place.
//
// The switchable table lists the controls the language switch sets, in the
// order it sets them; its Russian column is also each control's caption at
// start. The fixed table holds the captions that read the same in both
// languages, and the messages are the texts of boxes the window shows (and
// of the stream squares' states), read in the current language when they are
// shown.
#pragma once

#include "layer.h"

#include <QString>

#include <span>

class TForm1;

// How a caption reaches its control: each kind has one setter.
enum class CaptionKind {
    Title, // the window's title bar
    GroupBox,
    Button, // push buttons, check boxes and radio buttons
    Label, // a label that takes the width of its caption
    FixedLabel, // a label that keeps its laid-out size and wraps
    Page, // a page's tab on the page control
    Panel, // the caption drawn on a coloured panel
};

struct CaptionRow {
    const char* control; // the control's object name
    CaptionKind kind;
    const char16_t* russian;
    const char16_t* english;
};

// The captions the language switch sets, in its order.
std::span<const CaptionRow> switchableCaptions();

// Captions the switch leaves alone: the same in both languages.
struct FixedCaption {
    const char* control;
    CaptionKind kind;
    const char16_t* text;
};
std::span<const FixedCaption> fixedCaptions();

// Texts of the boxes the window shows, and the states of the webcam page's
// stream squares in words, for assistive tools (the squares tell them by
// colour alone).
enum class Message {
    SizeMismatchTitle,
    SizeMismatchText,
    HelpTitle,
    HelpFirst,
    HelpSecond,
    Streaming,
    NotStreaming,
    // The gain sliders' names for assistive tools, which see no caption
    // beside them: the labels name the red slider and the two cyan ones
    // together.
    GainRed,
    GainGreen,
    GainBlue,
};
QString messageText(Message message, int languageIndex);

// The caption a row gives at start (the Russian column, but for the one
// control that starts with a look-alike letter).
QString startCaption(const CaptionRow& row);
// The caption of a row in a language: 0 is Russian, any other index English.
QString captionIn(const CaptionRow& row, int languageIndex);

// Gives every control of both tables its caption at start.
void applyStartCaptions(TForm1& form);
// Gives every control of the switchable table its caption in a language, in
// the table's order, and shows the About page's note of that language.
void applyLanguage(TForm1& form, int languageIndex);
// Whether a note of the About page is shown at start (in Russian).
bool noteShownAtStart(const char* control);
