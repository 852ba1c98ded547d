// The one window of the program. It owns every control. The skeleton is
// made in form.cpp; the controls and handlers of each subsystem live in
// form_<subsystem>.cpp and stay thin, calling into compose/ and pictures/
// for the real work; the operations they share are in form_services.cpp.
// Every connection is made from the wiring table, every caption comes from
// the caption table, and everything from the desktop through the platform.
#pragma once

#include "layer.h"

#include "app/dialogs.h"
#include "compose/anaglyph.h"

#include <QWidget>

#include <memory>

class AnchorLayout;
class BuildPacing;
class Platform;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QScrollBar;
class QSlider;
class QTabWidget;
class TGauge;
class TImage;
class TPanel;
class TSpinEdit;

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

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createSkeleton();
    QWidget* createPicturePage(const char* name, const char* boxName, QScrollArea*& box, TImage*& view,
        bool autoSize);
    void createCalibration();
    void createBuilder();
    void createFileControls();
    void setTabOrders();
    bool Execute(TFileDialog& dialog);
    void OpenFrame(TImage* view, QWidget* page);
    void SaveAsJpeg(const TBitmap& picture);
    void SaveAsBmp(const TBitmap& picture);
    void layoutWindow();
    void updateSwatches();
    BlockInputs readBlockInputs() const;

    Platform& platform_;
    QScrollBar* hScroll_ = nullptr;
    QScrollBar* vScroll_ = nullptr;
    AnchorLayout* formLayout_ = nullptr;
    std::unique_ptr<BuildPacing> pacing_;
    bool building_ = false;
    bool closeRequested_ = false;
};
