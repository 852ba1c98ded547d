// Every header of the window (app/) includes this first. The layers below
// the window, the Qt-free core and the subsystems' widgets in compose/,
// pictures/ and capture/, are built with ORVANTA_BELOW_THE_WINDOW defined, so
// an include that runs from them back up to the window fails the build.
#pragma once

#ifdef ORVANTA_BELOW_THE_WINDOW
#error "compose/, pictures/ and capture/ must not include the window's headers (app/)"
#endif
