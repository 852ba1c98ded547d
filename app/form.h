// The one window of the program. It owns every control. The skeleton is
// made in form.cpp; the controls and handlers of each subsystem live in
// form_<subsystem>.cpp and stay thin, calling into compose/ and pictures/
// for the real work; the operations they share are in form_services.cpp.
// Every connection is made from the wiring table, every caption comes from
// the caption table, and everything from the desktop through the platform.
#pragma once

#include "layer.h"

#include "app/dialogs.h"
#include "widgets/capture/capture_backend.h"
#include "camera/video_format.h"
#include "compose/anaglyph.h"

#include <QWidget>

#include <deque>
#include <memory>

class AnchorLayout;
class BuildPacing;
class Platform;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMimeData;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QScrollBar;
class QSlider;
class QTabWidget;
class TGauge;
class TImage;
class TLogo;
class TPanel;
class TSpinEdit;
class TTimer;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Everything the window needs from the desktop comes through platform,
    // which must outlive the window.
    explicit TForm1(Platform& platform, QWidget* parent = nullptr);
    ~TForm1() override;

    // The window as laid out: client area and the extent its scroll bars cover.
    static constexpr int kClientWidth = 859;
    static constexpr int kClientHeight = 526;
    static constexpr int kOuterWidth = 867;
    static constexpr int kOuterHeight = 560;
    static constexpr int kScrollWidth = 857;
    static constexpr int kScrollHeight = 97;
    // The page control and each of its pages, as laid out.
    static constexpr QSize kPageControlSize { 854, 421 };
    static constexpr QSize kPageSize { 846, 393 };

    // Files.
    QGroupBox* GroupBox2 = nullptr;
    QPushButton* BitBtn1 = nullptr; // open frame 1
    QPushButton* BitBtn2 = nullptr; // open frame 2
    QPushButton* BitBtn5 = nullptr; // frame 1 as JPEG
    QPushButton* BitBtn7 = nullptr; // frame 1 as BMP
    QPushButton* BitBtn4 = nullptr; // frame 2 as JPEG
    QPushButton* BitBtn6 = nullptr; // frame 2 as BMP
    QPushButton* BitBtn3 = nullptr; // the anaglyph as JPEG
    QPushButton* BitBtn8 = nullptr; // the anaglyph as BMP
    QPushButton* BitBtn9 = nullptr; // the anaglyph and both frames as BMP
    TFileDialog OpenDialog1 { FileDialogMode::Open, QStringLiteral("Картинки|*.jpg; *.bmp"), {} };
    TFileDialog SaveDialog1 { FileDialogMode::Save, QStringLiteral("JPEG|*.jpg"), {} };
    TFileDialog SaveDialog2 { FileDialogMode::Save, QStringLiteral("BMP|*.bmp"), {} };

    // Glasses calibration.
    QGroupBox* GroupBox3 = nullptr;
    TPanel* Panel3 = nullptr;
    TPanel* Panel4 = nullptr;
    TPanel* Panel1 = nullptr;
    TPanel* Panel2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QSlider* TrackBar1 = nullptr;
    QSlider* TrackBar2 = nullptr;
    QSlider* TrackBar3 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Button6 = nullptr;

    // Pages.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QScrollArea* ScrollBox2 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QScrollArea* ScrollBox3 = nullptr;
    TImage* Image2 = nullptr; // frame 1, left eye, feeds red
    TImage* Image1 = nullptr; // frame 2, right eye, feeds green and blue
    TImage* Image3 = nullptr; // the anaglyph

    // The webcam page: channel 1 on the left, channel 2 on the right.
    QRadioButton* RadioButton1 = nullptr; // one camera
    QRadioButton* RadioButton2 = nullptr; // two cameras
    QScrollArea* ScrollBox4 = nullptr;
    QScrollArea* ScrollBox5 = nullptr;
    QFrame* Panel6 = nullptr; // channel 1's preview panel
    QFrame* Panel12 = nullptr; // channel 2's preview panel
    QPushButton* Button1x = nullptr; // channel 1's stream
    QPushButton* Button2 = nullptr; // connect channel 1
    QPushButton* Button4x = nullptr; // disconnect channel 1
    QPushButton* Button7 = nullptr; // channel 2's stream
    QPushButton* Button8 = nullptr; // connect channel 2
    QPushButton* Button9 = nullptr; // disconnect channel 2
    QPushButton* Button10 = nullptr; // channel 1 into frame 1
    QPushButton* Button11 = nullptr; // channel 1 into frame 2
    QPushButton* Button12 = nullptr; // channel 2 into frame 2
    QPushButton* Button13 = nullptr; // channel 2 into frame 1
    QPushButton* Button14 = nullptr; // both channels into both frames
    TPanel* Panel5 = nullptr; // channel 1's stream indicator
    QCheckBox* CheckBox2 = nullptr;
    TPanel* Panel7 = nullptr; // channel 1's crosshair, vertical
    TPanel* Panel9 = nullptr; // channel 1's crosshair, horizontal
    TPanel* Panel8 = nullptr; // channel 2's crosshair, horizontal
    TPanel* Panel10 = nullptr; // channel 2's crosshair, vertical
    QCheckBox* CheckBox3 = nullptr;
    TPanel* Panel11 = nullptr; // channel 2's stream indicator
    QPushButton* Button1z = nullptr; // centre both previews
    TPanel* Panel13 = nullptr; // the left camera's red mark
    TPanel* Panel14 = nullptr; // the right camera's cyan mark
    QPushButton* Button1s = nullptr; // channel 1's source
    QPushButton* Button1f = nullptr; // channel 1's format
    QPushButton* Button2s = nullptr; // channel 2's source
    QPushButton* Button2f = nullptr; // channel 2's format
    TTimer* Timer1 = nullptr; // channel 1's stream
    TTimer* Timer2 = nullptr; // channel 2's stream
    // Channel 2's connect was pressed at least once.
    bool Cam2Connected = false;

    // The About page.
    QLabel* Label10 = nullptr; // the title's outline, left
    QLabel* Label11 = nullptr; // right
    QLabel* Label12 = nullptr; // top
    QLabel* Label13 = nullptr; // bottom
    TLogo* Image4 = nullptr;
    QLabel* Label9 = nullptr; // the title in green
    TLogo* Image5 = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label15 = nullptr; // the Russian note
    QLabel* Label16 = nullptr; // the English note

    // Building.
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    TSpinEdit* SpinEdit1 = nullptr;
    TSpinEdit* SpinEdit2 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    TGauge* Gauge1 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button5 = nullptr;
    QLabel* Label17 = nullptr;
    TSpinEdit* SpinEdit3 = nullptr;
    QLabel* Label8 = nullptr;
    QComboBox* ComboBox1 = nullptr;

    // Handlers.
    void TrackBar1Change(QObject* Sender);
    void TrackBar2Change(QObject* Sender);
    void TrackBar3Change(QObject* Sender);
    void Button3Click(QObject* Sender);
    void Button5Click(QObject* Sender);
    void CheckBox1Click(QObject* Sender);
    void BitBtn1Click(QObject* Sender);
    void BitBtn2Click(QObject* Sender);
    void BitBtn5Click(QObject* Sender);
    void BitBtn7Click(QObject* Sender);
    void BitBtn4Click(QObject* Sender);
    void BitBtn6Click(QObject* Sender);
    void Button4Click(QObject* Sender);
    void BitBtn8Click(QObject* Sender);
    void BitBtn9Click(QObject* Sender);
    void Button2Click(QObject* Sender);
    void Button8Click(QObject* Sender);
    void Button4xClick(QObject* Sender);
    void Button9Click(QObject* Sender);
    void Button1sClick(QObject* Sender);
    void Button1fClick(QObject* Sender);
    void Button2sClick(QObject* Sender);
    void Button2fClick(QObject* Sender);
    void Button1xClick(QObject* Sender);
    void Button7Click(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void Timer2Timer(QObject* Sender);
    void Button10Click(QObject* Sender);
    void Button11Click(QObject* Sender);
    void Button13Click(QObject* Sender);
    void Button12Click(QObject* Sender);
    void Button14Click(QObject* Sender);
    void RadioButton1Click(QObject* Sender);
    void RadioButton2Click(QObject* Sender);
    void CheckBox2Click(QObject* Sender);
    void CheckBox3Click(QObject* Sender);
    void Button1zClick(QObject* Sender);
    void FormResize(QObject* Sender);
    void ComboBox1Change(QObject* Sender);
    void Button6Click(QObject* Sender);
    void Image4Click(QObject* Sender);
    void FormDragDrop(QObject* Sender);

    // Composes the anaglyph from the two frames with block step s (>= 1).
    void DoAnaglyph(int s);
    // Decodes the picture file into the bitmap, which changes only when the
    // whole picture was read.
    void AnyToBitmap(TBitmap& bitmap, const QString& fileName);

    // Window operations the handlers share.
    void LetEventsRun();
    Platform& platform() const { return platform_; }
    void ShowPage(QWidget* page);
    void ShowMessage(const QString& title, const QString& text);
    // 0 is Russian, anything else English.
    int LanguageIndex() const;
    bool Building() const { return building_; }

    // How a build lets events run; the window starts with the sliced kind.
    void setBuildPacing(std::unique_ptr<BuildPacing> pacing);

    // The desktop position the window takes at start for a virtual desktop
    // of the given size.
    static QPoint startPosition(QSize desktop);

signals:
    // The window has laid out its controls for a new size (or for the first
    // showing).
    void resized();
    // Files were dropped on the window and taken; FormDragDrop opens them.
    void filesDropped();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createSkeleton();
    QWidget* createPicturePage(const char* name, const char* boxName, QScrollArea*& box, TImage*& view,
        bool autoSize);
    void createCalibration();
    void createBuilder();
    void createFileControls();
    void createWebcamPage();
    void createAboutPage();
    void setTabOrders();
    bool Execute(TFileDialog& dialog);
    void OpenFrame(TImage* view, QWidget* page);
    void OpenFrameFile(TImage* view, QWidget* page, const QString& fileName);
    // A drop the window takes: the file for each frame, null for a frame
    // the drop leaves alone.
    struct DroppedFrames {
        QString frame1;
        QString frame2;
    };
    bool TakeDrop(const QMimeData* data, QPoint at, DroppedFrames* frames) const;
    QWidget* FramePageAt(QPoint at) const;
    void SaveAsJpeg(const TBitmap& picture);
    void SaveAsBmp(const TBitmap& picture);
    void layoutWindow();
    void updateSwatches();
    BlockInputs readBlockInputs() const;

    // One capture channel's data and controls.
    struct Channel {
        const char* windowName;
        CaptureHandle& window;
        VideoFormat& format;
        QFrame* panel;
        bool windowTakesPanelSize; // else 800 x 600
        TTimer* timer; // its stream's ticks
        TPanel* indicator; // its stream's square
    };
    Channel channel1();
    Channel channel2();
    void ConnectChannel(const Channel& channel);
    void SizePanel(const Channel& channel);
    void StreamTick(const Channel& channel);
    void SwitchStream(TTimer* timer, TPanel* indicator);
    // A stream square's colour and, for assistive tools, its state in words
    // in the window's language.
    void ShowStreamState(TPanel* indicator, bool streaming);
    // Both squares again, as their streams are: for a new language.
    void ShowStreamStates();
    // The gain sliders' names for assistive tools, in the window's language.
    void ShowGainNames();
    void Grab(const Channel& channel, TImage* view);
    void PlaceCrosshair(QScrollArea* box, TPanel* horizontal, TPanel* vertical);

    Platform& platform_;
    QScrollBar* hScroll_ = nullptr;
    QScrollBar* vScroll_ = nullptr;
    AnchorLayout* formLayout_ = nullptr;
    AnchorLayout* webcamLayout_ = nullptr;
    std::unique_ptr<BuildPacing> pacing_;
    bool building_ = false;
    bool closeRequested_ = false;
    // The capture channels' windows and video formats.
    CaptureHandle CapWnd1 = 0;
    CaptureHandle CapWnd2 = 0;
    VideoFormat VideoFormat1;
    VideoFormat VideoFormat2;
    // Drops taken and not yet opened, oldest first.
    std::deque<DroppedFrames> drops_;
};
