#include "qt_translations.h"

#include "widgets/capture/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QtTranslations::QtTranslations() = default;

QtTranslations::~QtTranslations()
{
    // Without an application there is nothing left to remove them from.
    if (!QCoreApplication::instance())
        return;
    remove(ours_);
    remove(qt_);
}

QString QtTranslations::folder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

bool QtTranslations::install(Installed& slot, bool (*load)(QTranslator&))
{
    if (slot.installed)
        return true;
    if (!slot.translator) {
        auto translator = std::make_unique<QTranslator>();
        if (!load(*translator))
            return false;
        slot.translator = std::move(translator);
    }
    slot.installed = QCoreApplication::installTranslator(slot.translator.get());
    return slot.installed;
}

void QtTranslations::remove(Installed& slot)
{
    if (slot.installed)
        QCoreApplication::removeTranslator(slot.translator.get());
    slot.installed = false;
}

bool QtTranslations::use(int languageIndex)
{
    if (languageIndex != 0) {
        remove(ours_);
        remove(qt_);
        return true;
    }
    // qt_ru loads the translations of Qt's modules, qtbase among them.
    const bool qt = install(qt_, [](QTranslator& t) {
        return t.load(QLocale(QLocale::Russian), QStringLiteral("qt"), QStringLiteral("_"), folder());
    });
    const bool ours = install(ours_, [](QTranslator& t) { return t.load(QString::fromLatin1(kRussianDialogTexts)); });
    return qt && ours;
}
