// What the window's file dialogs and message boxes are described by; the
// platform object shows them.
#pragma once

#include "layer.h"

#include <QString>

enum class BoxIcon { None, Error };

enum class FileDialogMode { Open, Save };

// A file dialog of the window: its filter, and the name last chosen in it,
// which it shows the next time.
struct TFileDialog {
    FileDialogMode mode;
    QString Filter;
    QString FileName;
};

// The name filter QFileDialog takes for a filter "NAME|*.a; *.b", with
// patterns that match in any letter case.
QString qtNameFilter(const QString& filter);
