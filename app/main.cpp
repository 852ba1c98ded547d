#include "application.h"
#include "form.h"
#include "platform.h"

int main(int argc, char** argv)
{
    // The program takes no command line: Qt sees the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    DesktopPlatform platform;
    OrvantaApplication app(qtArgc, argv, platform);
    TForm1 form(platform);
    form.show();
    return app.exec();
}
