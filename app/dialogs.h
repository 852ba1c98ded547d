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
