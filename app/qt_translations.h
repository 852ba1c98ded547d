// The texts the window does not set itself in the window's language: Qt's
// own (the buttons of message boxes, the file dialogs' labels) from the
// translations the system installs with Qt, and our camera dialogs' from the
// translation built into the program. English is what both are written in.
#pragma once

#include "layer.h"

#include <QString>

#include <memory>

class QTranslator;

class QtTranslations {
public:
    QtTranslations();
    ~QtTranslations();

    // 0 is Russian, any other index English. Returns false when a
    // translation for the language could not be loaded (its texts then stay
    // English; the other one is installed all the same).
    bool use(int languageIndex);
    // Where Qt's own translations are read from.
    static QString folder();

private:
    struct Installed {
        std::unique_ptr<QTranslator> translator;
        bool installed = false;
    };
    // Loads the translation on first use, and installs it once.
    static bool install(Installed& slot, bool (*load)(QTranslator&));
    static void remove(Installed& slot);

    Installed qt_;
    Installed ours_;
};
