#include "widgets/capture/camera_dialogs.h"

#include "widgets/capture/dialog_status.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

CameraFormatDialog::CameraFormatDialog(Camera& camera, QWidget* parent) : QDialog(parent), camera_(camera)
{
    setWindowTitle(tr("Video format"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* sizeLabel = new QLabel(tr("Frame &size:"));
    sizeBox_ = new QComboBox;
    sizeBox_->setObjectName(QStringLiteral("frameSizeBox"));
    sizeBox_->setAccessibleName(tr("Frame size"));
    sizeLabel->setBuddy(sizeBox_);
    auto* rateLabel = new QLabel(tr("Frame &rate:"));
    rateBox_ = new QComboBox;
    rateBox_->setObjectName(QStringLiteral("frameRateBox"));
    rateBox_->setAccessibleName(tr("Frame rate"));
    rateLabel->setBuddy(rateBox_);
    // Wide enough for the title to be read in the title bar.
    sizeBox_->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
    form->addRow(sizeLabel, sizeBox_);
    form->addRow(rateLabel, rateBox_);
    layout->addLayout(form);
    statusLabel_ = makeStatusLabel();
    layout->addWidget(statusLabel_);
    okButton_ = new QPushButton(tr("OK"));
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setDefault(true); // Enter
    auto* cancelButton = new QPushButton(tr("Cancel"));
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(okButton_, &QPushButton::clicked, this, &CameraFormatDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // A row of our own: the button box of Qt 6.4 makes one of its buttons
    // its focus proxy, and Tab then never reaches the other.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);

    std::vector<CameraMode> offered;
    std::optional<FrameSize> currentSize;
    try {
        offered = camera_.modes();
        currentSize = camera_.frameSize();
        current_ = camera_.frameInterval();
    } catch (const CaptureError& e) {
        showStatus(QString::fromStdString(e.what()));
    }
    // One entry per size, whatever the camera lists twice (one size in two
    // pixel formats, for instance).
    for (const CameraMode& mode : offered) {
        const auto same = std::find_if(
            modes_.begin(), modes_.end(), [&](const CameraMode& m) { return m.size == mode.size; });
        if (same == modes_.end()) {
            modes_.push_back(mode);
            continue;
        }
        for (const FrameInterval& interval : mode.intervals)
            if (std::find(same->intervals.begin(), same->intervals.end(), interval) == same->intervals.end())
                same->intervals.push_back(interval);
    }
    int currentIndex = modes_.empty() ? -1 : 0;
    for (std::size_t i = 0; i < modes_.size(); ++i) {
        const FrameSize size = modes_[i].size;
        sizeBox_->addItem(tr("%1 × %2").arg(size.width).arg(size.height));
        if (currentSize && size == *currentSize)
            currentIndex = int(i);
    }
    sizeBox_->setCurrentIndex(currentIndex);
    fillRates({ current_ });
    if (modes_.empty() && statusLabel_->text().isEmpty())
        showStatus(tr("The camera offers no frame sizes."));
    okButton_->setEnabled(!modes_.empty());

    connect(sizeBox_, &QComboBox::currentIndexChanged, this, [this] {
        // Keep the rate chosen so far when the new size offers it.
        std::vector<FrameInterval> preferred;
        if (const auto chosen = chosenInterval())
            preferred.push_back(*chosen);
        preferred.push_back(current_);
        fillRates(preferred);
    });
}

void CameraFormatDialog::fillRates(const std::vector<FrameInterval>& preferred)
{
    rateBox_->clear();
    const int sizeIndex = sizeBox_->currentIndex();
    ratesOf_ = sizeIndex;
    if (sizeIndex < 0)
        return;
    const std::vector<FrameInterval>& intervals = modes_[std::size_t(sizeIndex)].intervals;
    if (intervals.empty()) {
        rateBox_->addItem(tr("Default"), -1);
        return;
    }
    for (std::size_t i = 0; i < intervals.size(); ++i)
        rateBox_->addItem(rateText(intervals[i]), int(i));
    for (const FrameInterval& p : preferred) {
        const auto found = std::find(intervals.begin(), intervals.end(), p);
        if (found != intervals.end()) {
            rateBox_->setCurrentIndex(int(found - intervals.begin()));
            return;
        }
    }
    rateBox_->setCurrentIndex(0);
}

std::optional<FrameInterval> CameraFormatDialog::chosenInterval() const
{
    // While the size box changes, the rate box still lists the old size.
    const int rateIndex = rateBox_->currentIndex();
    if (ratesOf_ < 0 || rateIndex < 0)
        return std::nullopt;
    const int entry = rateBox_->itemData(rateIndex).toInt();
    if (entry < 0)
        return FrameInterval {}; // the camera's choice
    return modes_[std::size_t(ratesOf_)].intervals[std::size_t(entry)];
}

QString CameraFormatDialog::rateText(FrameInterval interval) const
{
    if (interval.numerator == 0 || interval.denominator == 0)
        return tr("Default");
    // 1001/30000 s is read as 29.97 fps, 2/15 s as 7.5 fps.
    const double fps = std::round(double(interval.denominator) / interval.numerator * 100.0) / 100.0;
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return tr("%1 fps").arg(locale.toString(fps, 'f', QLocale::FloatingPointShortest));
}

void CameraFormatDialog::accept()
{
    const std::optional<FrameInterval> interval = chosenInterval();
    if (!interval)
        return;
    try {
        camera_.setMode(modes_[std::size_t(ratesOf_)].size, *interval);
    } catch (const CaptureError& e) {
        showStatus(QString::fromStdString(e.what()));
        return;
    }
    QDialog::accept();
}

void CameraFormatDialog::showStatus(const QString& text) { setStatus(*statusLabel_, text); }
