// Qt's own texts (the buttons of message boxes, the file dialogs' labels) in
// the window's language: Russian from the translations the system installs
// with Qt, English as Qt writes them.
#pragma once

#include "layer.h"

#include <QString>

#include <memory>

class QTranslator;

class QtTranslations {
public:
    QtTranslations();
    ~QtTranslations();

    // 0 is Russian, any other index English. Returns false when the
    // translation for the language could not be loaded (Qt then speaks
    // English).
    bool use(int languageIndex);
    // Where the translations are read from.
    static QString folder();

private:
    std::unique_ptr<QTranslator> russian_;
    bool installed_ = false;
};
