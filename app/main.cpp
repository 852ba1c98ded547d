#include "application.h"
#include "form.h"

int main(int argc, char** argv)
{
    // The program takes no command line: Qt sees the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    OrvantaApplication app(qtArgc, argv);
    TForm1 form;
    form.show();
    return app.exec();
}
