// The camera dialogs in Russian, for the tests of the dialogs on their own:
// the translation the window installs when it speaks Russian, installed
// while an object of this class lives.
#pragma once

#include "widgets/capture/translation.h"

#include <QCoreApplication>
#include <QTranslator>

class RussianDialogs {
public:
    explicit RussianDialogs(bool russian = true)
    {
        if (russian)
            loaded_ = translator_.load(QString::fromLatin1(kRussianDialogTexts))
                && QCoreApplication::installTranslator(&translator_);
    }
    ~RussianDialogs() { QCoreApplication::removeTranslator(&translator_); }
    RussianDialogs(const RussianDialogs&) = delete;
    RussianDialogs& operator=(const RussianDialogs&) = delete;

    // Whether the translation was found and installed.
    bool loaded() const { return loaded_; }

private:
    QTranslator translator_;
    bool loaded_ = false;
};
