// The camera dialogs' Russian texts: translations/orvanta_ru.ts, compiled
// by the build and kept as a resource of the widgets library, so it is
// found wherever the program runs. Whoever decides the language installs it.
#pragma once

inline constexpr char kRussianDialogTexts[] = ":/i18n/orvanta_ru.qm";
