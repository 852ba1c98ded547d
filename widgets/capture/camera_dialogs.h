// The camera dialogs behind the webcam page's "Source" and "Format" buttons.
// Both are modal (the caller runs exec()); every change reaches the camera at
// once, so the picture the page keeps streaming shows its effect while the
// dialog is open.
//
// Object names tests and tools can find: "cameraBox" (the camera list),
// "controlsArea" (the scroll area around the controls), "statusLabel" (the
// last error, or "No camera found"), "resetButton", "closeButton",
// "frameSizeBox", "frameRateBox", "okButton", "cancelButton"; each device
// control is "control_<id>" (the slider of an integer control, whose number
// field is "control_<id>_value").
#pragma once

#include "camera/camera.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QWidget;

// Chooses the camera a capture channel shows and sets the device's own
// controls (brightness, white balance, exposure...), as the device lists them.
class CameraSourceDialog : public QDialog {
    Q_OBJECT

public:
    // Attaches the channel's capture window to that camera and returns it.
    // Throws CaptureError when it cannot; the channel keeps its old camera.
    using Attach = std::function<std::shared_ptr<Camera>(const CameraInfo&)>;

    // `current` is the camera the channel shows now, or null when it shows
    // none; the dialog then lists the cameras so that one can be chosen.
    CameraSourceDialog(CameraSystem& cameras, std::shared_ptr<Camera> current, Attach attach,
        QWidget* parent = nullptr);
    ~CameraSourceDialog() override;

    // The camera the dialog shows: `current`, or the last one attached.
    std::shared_ptr<Camera> camera() const { return camera_; }

private:
    // The widgets of one device control. `editor` is the slider, check box,
    // drop-down or push button; `field` the number field of an integer.
    struct ControlRow {
        std::uint32_t id = 0;
        CameraControl::Kind kind = CameraControl::Kind::Integer;
        std::int32_t minimum = 0;
        std::int32_t maximum = 0;
        std::int32_t step = 1;
        std::int32_t value = 0; // as the device last reported or took it
        QLabel* label = nullptr;
        QWidget* editor = nullptr;
        QSpinBox* field = nullptr;
    };

    void chooseCamera(int index);
    void buildControls();
    void addControlRow(QGridLayout& grid, const CameraControl& control, QString& mnemonics);
    ControlRow* row(std::uint32_t id);
    void integerChanged(std::uint32_t id, int value);
    void sendControl(std::uint32_t id, std::int32_t value);
    // Reads the controls back: every row's enabled state, and every value
    // except `keep`'s, whose widget the user may be holding.
    void refreshControls(std::optional<std::uint32_t> keep);
    // Puts a value in the row's widgets without telling the camera.
    void showValue(const ControlRow& row, std::int32_t value);
    void resetToDefaults();
    void fixTabOrder();
    void showStatus(const QString& text);

    std::shared_ptr<Camera> camera_;
    Attach attach_;
    std::vector<CameraInfo> list_;
    std::vector<ControlRow> rows_;
    QComboBox* cameraBox_ = nullptr;
    QLabel* cameraLabel_ = nullptr;
    QScrollArea* controlsArea_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};

// Chooses the frame size and rate a camera delivers. OK applies them and
// closes; when the camera refuses, the message shows and the dialog stays.
class CameraFormatDialog : public QDialog {
    Q_OBJECT

public:
    explicit CameraFormatDialog(Camera& camera, QWidget* parent = nullptr);

    void accept() override;

private:
    // Lists the chosen size's rates, selecting the first of `preferred` the
    // size offers (or its first rate).
    void fillRates(const std::vector<FrameInterval>& preferred);
    std::optional<FrameInterval> chosenInterval() const;
    QString rateText(FrameInterval interval) const;
    void showStatus(const QString& text);

    Camera& camera_;
    std::vector<CameraMode> modes_; // one entry per size
    FrameInterval current_; // the camera's interval when the dialog opened
    int ratesOf_ = -1; // the entry of modes_ whose rates the rate box lists
    QComboBox* sizeBox_ = nullptr;
    QComboBox* rateBox_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* okButton_ = nullptr;
};
