// The status line of the camera dialogs. A camera's refusal, or the lack of
// a camera, is told there, inside the dialog, rather than in a box of its own
// over a dialog that stays open.
#pragma once

#include <QLabel>
#include <QString>

// Named "statusLabel"; hidden while empty; its text can be selected and
// copied into a bug report.
inline QLabel* makeStatusLabel()
{
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("statusLabel"));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->hide();
    return label;
}

inline void setStatus(QLabel& label, const QString& text)
{
    label.setText(text);
    label.setVisible(!text.isEmpty());
}
