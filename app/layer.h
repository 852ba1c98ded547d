// Every header of the window (app/) includes this first. The layers below
// the window, the Qt-free core, the cameras' device side, the alignment and
// the subsystems' widgets (compose/, pictures/, camera/, align/, widgets/),
// are built with ORVANTA_BELOW_THE_WINDOW defined, so an include that runs
// from them back up to the window fails the build.
#pragma once

#ifdef ORVANTA_BELOW_THE_WINDOW
#error "the layers below the window must not include its headers (app/)"
#endif
