#include "application.h"
#include "form.h"
#include "platform.h"

#include "pictures/temporary_files.h"

int main(int argc, char** argv)
{
    // Ended by Ctrl+C, kill or a closed terminal in the middle of a save,
    // the program leaves no temporary file beside the picture.
    removeTemporaryFilesOnSignals();
    // The program takes no command line: Qt sees the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    // The application first and gone last: the platform's translations and
    // the window are made and taken down while it lives.
    OrvantaApplication app(qtArgc, argv);
    DesktopPlatform platform;
    app.reportErrorsThrough(&platform);
    int status = 0;
    {
        TForm1 form(platform);
        form.show();
        status = app.exec();
    }
    app.reportErrorsThrough(nullptr);
    return status;
}
