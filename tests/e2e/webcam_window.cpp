// The program's window on the desktop's own services, but with two synthetic
// cameras behind its capture channels, for the end-to-end test of the webcam
// page in a real X server. Channel 1's source dialog attaches the first
// camera and channel 2's the second, so each preview shows its own.
//
// After the window is shown it prints, one per line, "NAME X Y": where to
// click each control the test presses and where to look at the previews, in
// the window's client coordinates.
#include "app/application.h"
#include "app/form.h"
#include "app/platform.h"
#include "app/widgets.h"
#include "widgets/capture/capture_window.h"
#include "widgets/capture/synthetic_backend.h"
#include "own_cameras.h"

#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

// The desktop's services, with synthetic cameras in place of the real ones.
class SyntheticDesktop final : public Platform {
public:
    SyntheticDesktop() { giveEachChannelItsCamera(cameras_); }
    void showMessage(QWidget* parent, const QString& title, const QString& text, BoxIcon icon) override
    {
        desktop_.showMessage(parent, title, text, icon);
    }
    bool chooseFile(QWidget* parent, FileDialogMode mode, const QString& filter, QString& fileName) override
    {
        return desktop_.chooseFile(parent, mode, filter, fileName);
    }
    void putPicture(const QImage& picture) override { desktop_.putPicture(picture); }
    bool takePicture(QImage& picture) override { return desktop_.takePicture(picture); }
    bool openUrl(const QUrl& url) override { return desktop_.openUrl(url); }
    void letEventsRun() override { desktop_.letEventsRun(); }
    CaptureBackend& capture() override { return cameras_; }
    void useLanguage(int languageIndex) override { desktop_.useLanguage(languageIndex); }

private:
    DesktopPlatform desktop_;
    SyntheticBackend cameras_ { [this](const QImage& picture) { putPicture(picture); } };
};

void print(const char* name, QPoint p) { std::printf("%s %d %d\n", name, p.x(), p.y()); }

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int qtArgc = argc > 0 ? 1 : 0;
    OrvantaApplication app(qtArgc, argv);
    SyntheticDesktop platform;
    app.reportErrorsThrough(&platform);
    TForm1 form(platform);
    form.show();
    QTimer::singleShot(0, &form, [&form] {
        // The pages lie in the page control's stack at its top-left corner.
        const QPoint page = form.TabSheet4->parentWidget()->mapTo(&form, QPoint(0, 0));
        QTabBar* tabs = form.PageControl1->tabBar();
        print("TabSheet5", tabs->mapTo(&form, tabs->tabRect(form.PageControl1->indexOf(form.TabSheet5)).center()));
        for (QWidget* w : std::initializer_list<QWidget*> { form.Button2, form.RadioButton2, form.Button8,
                 form.Button1x, form.Button7, form.Panel5, form.Panel11 })
            print(qPrintable(w->objectName()), page + w->geometry().center());
        // Inside each preview, well within the camera's corner mark.
        print("Preview1", page + form.ScrollBox4->geometry().topLeft() + form.ScrollBox4->viewport()->pos()
                + QPoint(10, 10));
        print("Preview2", page + form.ScrollBox5->geometry().topLeft() + form.ScrollBox5->viewport()->pos()
                + QPoint(10, 10));
    });
    return app.exec();
}
