// The wiring table: every connection from a control's event to a handler of
// the window, each row naming the subsystem the handler belongs to. All
// connections are made from it in one place, and each handler is wrapped
// once in the general error report, so an error escaping it is shown and the
// event loop carries on. Adding a handler is adding a row.
#pragma once

#include "layer.h"

#include <span>

class QObject;
class TForm1;

enum class WiredEvent {
    Click, // a button is pressed
    Toggle, // a check box changes state
    Change, // a slider's position changes
    Select, // a radio button passes from not selected to selected
    Tick, // a timer falls due; while its error box is open, ticks do nothing
    Resize, // the window has laid out its controls for a new size
    Choose, // the user chooses an item of a drop-down list, with the mouse or the keyboard
    Drop, // files were dropped on the window and taken; handled once the drop is over
};

struct WiringRow {
    const char* control; // the control's object name
    WiredEvent event;
    void (TForm1::*handler)(QObject* sender);
    const char* subsystem; // where the handler lives: compose, pictures, capture, app
};

std::span<const WiringRow> wiringTable();

// Makes every connection of the table. Throws std::logic_error when a row
// names a control the window lacks or one of the wrong kind.
void wireControls(TForm1& form);
