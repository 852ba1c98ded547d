// Modal boxes reach the window through this interface, so tests can answer
// them without a person at the screen.
#pragma once

#include <QString>

class QWidget;

enum class BoxIcon { None, Error };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A modal box with one OK button; returns when the user has closed it.
    virtual void show(QWidget* parent, const QString& title, const QString& text, BoxIcon icon) = 0;
};

// The real thing: QMessageBox.
class QtMessageBoxes final : public MessageBoxes {
public:
    void show(QWidget* parent, const QString& title, const QString& text, BoxIcon icon) override;
};

enum class FileDialogMode { Open, Save };

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // A modal file dialog. filter is "NAME|*.ext1; *.ext2": one entry whose
    // patterns match names in any letter case. fileName is the name shown at
    // first and receives the full path chosen; false when cancelled. A typed
    // name that does not exist is returned as it is, and no extension is
    // added to it.
    virtual bool choose(QWidget* parent, FileDialogMode mode, const QString& filter, QString& fileName) = 0;
};

// The real thing: QFileDialog.
class QtFileDialogs final : public FileDialogs {
public:
    bool choose(QWidget* parent, FileDialogMode mode, const QString& filter, QString& fileName) override;
};

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
