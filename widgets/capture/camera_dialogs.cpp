#include "widgets/capture/camera_dialogs.h"

#include "widgets/capture/control_names.h"
#include "widgets/capture/dialog_status.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString fromDevice(const std::string& text) { return QString::fromStdString(text); }

// The letter a label's "&" marks, lower-cased, or a null QChar.
QChar mnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1].toLower();
        ++i; // "&&" is a literal ampersand
    }
    return {};
}

// Any letter or digit: a Russian name is marked on a Cyrillic letter, as the
// dialog's own translated labels are.
bool isMnemonicCandidate(QChar c) { return c.isLetterOrNumber(); }

// Device names become label texts: their own "&" is escaped, and a mnemonic
// goes before the first letter no other label of the dialog uses yet,
// preferring the start of a word. `taken` collects the letters given out.
// With every letter taken the text gets none; the control is still reached
// with Tab.
QString withMnemonic(const QString& name, QString& taken)
{
    qsizetype at = -1;
    for (int wordStartsOnly = 1; wordStartsOnly >= 0 && at < 0; --wordStartsOnly) {
        for (qsizetype i = 0; i < name.size(); ++i) {
            const QChar c = name[i];
            const bool wordStart = i == 0 || !name[i - 1].isLetterOrNumber();
            if (isMnemonicCandidate(c) && (wordStart || !wordStartsOnly) && !taken.contains(c.toLower())) {
                at = i;
                break;
            }
        }
    }
    QString text;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (i == at)
            text += u'&';
        text += name[i];
        if (name[i] == u'&')
            text += u'&';
    }
    if (at >= 0)
        taken += name[at].toLower();
    return text;
}

// The nearest value the control takes: minimum + k * step, within range.
std::int32_t snapToStep(std::int64_t v, std::int32_t minimum, std::int32_t maximum, std::int32_t step)
{
    if (step <= 1)
        return std::int32_t(std::clamp<std::int64_t>(v, minimum, maximum));
    const std::int64_t steps = (v - minimum + step / 2) / step;
    std::int64_t snapped = minimum + steps * step;
    if (snapped > maximum)
        snapped -= step;
    return std::int32_t(std::clamp<std::int64_t>(snapped, minimum, maximum));
}

QPushButton* makeButton(const QString& text, const char* name)
{
    auto* button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    // Enter in a number field must not press a button and close the dialog.
    button->setAutoDefault(false);
    return button;
}

// The scroll area around the device's controls: as wide as its rows, and as
// tall as they are up to 60% of the screen's free height, so that a camera
// with many controls scrolls instead of pushing the buttons off a
// 768-pixel-high screen. The stock scroll area stops at 24 text lines
// whatever the screen.
class ControlsArea final : public QScrollArea {
public:
    QSize sizeHint() const override
    {
        if (!widget())
            return QScrollArea::sizeHint();
        const QSize content = widget()->sizeHint();
        const int screenHeight = screen() ? screen()->availableGeometry().height() : 768;
        return { minimumSizeHint().width(), std::min(content.height(), screenHeight * 3 / 5) };
    }
    QSize minimumSizeHint() const override
    {
        if (!widget())
            return QScrollArea::minimumSizeHint();
        // No row is ever cut at the side: there is no horizontal scroll bar.
        return { widget()->minimumSizeHint().width() + verticalScrollBar()->sizeHint().width(),
            4 * fontMetrics().height() };
    }
};

} // namespace

CameraSourceDialog::CameraSourceDialog(CameraSystem& cameras, std::shared_ptr<Camera> current, Attach attach,
    QWidget* parent)
    : QDialog(parent)
    , camera_(std::move(current))
    , attach_(std::move(attach))
{
    setWindowTitle(tr("Video source"));
    auto* layout = new QVBoxLayout(this);
    statusLabel_ = makeStatusLabel();
    closeButton_ = makeButton(tr("Close"), "closeButton");
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
    // A row of our own: the button box of Qt 6.4 makes one of its buttons
    // its focus proxy, and Tab then never reaches the others.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(closeButton_);

    try {
        list_ = cameras.cameras();
    } catch (const CaptureError& e) {
        showStatus(QString::fromStdString(e.what()));
    }
    if (list_.empty()) {
        if (statusLabel_->text().isEmpty())
            showStatus(tr("No camera found"));
        layout->addWidget(statusLabel_);
        layout->addLayout(buttons);
        return;
    }

    cameraLabel_ = new QLabel(tr("&Camera:"));
    cameraBox_ = new QComboBox;
    cameraBox_->setObjectName(QStringLiteral("cameraBox"));
    cameraBox_->setAccessibleName(tr("Camera"));
    cameraBox_->setPlaceholderText(tr("Choose a camera"));
    cameraLabel_->setBuddy(cameraBox_);
    // Two cameras of one model carry one name; the later ones are numbered.
    for (std::size_t i = 0; i < list_.size(); ++i) {
        const CameraInfo& info = list_[i];
        QString name = info.name.empty() ? fromDevice(info.id) : fromDevice(info.name);
        const auto twins = std::count_if(list_.begin(), list_.begin() + std::ptrdiff_t(i),
            [&](const CameraInfo& other) { return other.name == info.name; });
        if (twins > 0)
            name = tr("%1 (%2)").arg(name).arg(twins + 1);
        cameraBox_->addItem(name);
    }
    int currentIndex = -1;
    if (camera_) {
        const std::string id = camera_->info().id;
        const auto found
            = std::find_if(list_.begin(), list_.end(), [&](const CameraInfo& info) { return info.id == id; });
        if (found != list_.end())
            currentIndex = int(found - list_.begin());
    }
    cameraBox_->setCurrentIndex(currentIndex);
    auto* top = new QHBoxLayout;
    top->addWidget(cameraLabel_);
    top->addWidget(cameraBox_, 1);
    layout->addLayout(top);

    controlsArea_ = new ControlsArea;
    controlsArea_->setObjectName(QStringLiteral("controlsArea"));
    controlsArea_->setWidgetResizable(true);
    controlsArea_->setFrameShape(QFrame::NoFrame);
    controlsArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab goes from control to control, each scrolled into view; the area
    // itself is no stop of its own.
    controlsArea_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(controlsArea_, 1);
    layout->addWidget(statusLabel_);

    resetButton_ = makeButton(tr("&Reset to defaults"), "resetButton");
    buttons->insertWidget(0, resetButton_);
    connect(resetButton_, &QPushButton::clicked, this, &CameraSourceDialog::resetToDefaults);
    layout->addLayout(buttons);

    connect(cameraBox_, &QComboBox::currentIndexChanged, this, &CameraSourceDialog::chooseCamera);
    buildControls();
}

CameraSourceDialog::~CameraSourceDialog() = default;

void CameraSourceDialog::chooseCamera(int index)
{
    if (index < 0 || std::size_t(index) >= list_.size())
        return;
    std::shared_ptr<Camera> attached;
    try {
        attached = attach_(list_[std::size_t(index)]);
    } catch (const CaptureError& e) {
        showStatus(QString::fromStdString(e.what()));
    }
    if (!attached) {
        if (statusLabel_->text().isEmpty())
            showStatus(tr("The camera could not be connected."));
        // The channel still shows the camera it had; so does the list.
        int previous = -1;
        if (camera_) {
            const std::string id = camera_->info().id;
            for (std::size_t i = 0; i < list_.size(); ++i)
                if (list_[i].id == id)
                    previous = int(i);
        }
        const QSignalBlocker blocker(cameraBox_);
        cameraBox_->setCurrentIndex(previous);
        return;
    }
    camera_ = std::move(attached);
    showStatus({});
    buildControls();
}

void CameraSourceDialog::buildControls()
{
    rows_.clear();
    auto* panel = new QWidget;
    auto* grid = new QGridLayout(panel);
    // A gap between the fields and the scroll bar.
    grid->setContentsMargins(0, 0, fontMetrics().averageCharWidth(), 0);
    grid->setColumnStretch(1, 1);

    std::vector<CameraControl> controls;
    if (camera_) {
        try {
            controls = camera_->controls();
        } catch (const CaptureError& e) {
            showStatus(QString::fromStdString(e.what()));
        }
        if (controls.empty() && statusLabel_->text().isEmpty())
            grid->addWidget(new QLabel(tr("This camera has no settings of its own.")), 0, 0, 1, 3);
    }
    QString mnemonics;
    for (const QString& text : { cameraLabel_->text(), resetButton_->text() })
        if (const QChar c = mnemonicOf(text); !c.isNull())
            mnemonics += c;
    for (const CameraControl& control : controls)
        addControlRow(*grid, control, mnemonics);
    grid->setRowStretch(grid->rowCount(), 1);
    // The panel is complete before it is put in: widgets added to a shown
    // panel would appear only once events have run. Replacing the panel
    // deletes the old one with its controls; nothing of it is on the stack,
    // as only the camera list rebuilds.
    controlsArea_->setWidget(panel);

    controlsArea_->setVisible(camera_ != nullptr);
    resetButton_->setEnabled(std::any_of(
        rows_.begin(), rows_.end(), [](const ControlRow& r) { return r.kind != CameraControl::Kind::Button; }));
    controlsArea_->updateGeometry();
    // A camera with more controls than the last one gets the room it needs;
    // a dialog the user made larger stays so.
    if (isVisible())
        resize(size().expandedTo(sizeHint()));
    fixTabOrder();
}

void CameraSourceDialog::addControlRow(QGridLayout& grid, const CameraControl& control, QString& mnemonics)
{
    const int r = int(rows_.size());
    const QString name = cameraControlName(control.id, control.name);
    const QString objectName = QStringLiteral("control_%1").arg(control.id);
    const std::uint32_t id = control.id;

    ControlRow row;
    row.id = id;
    row.kind = control.kind;
    row.minimum = control.minimum;
    row.maximum = std::max(control.minimum, control.maximum);
    row.step = std::max<std::int32_t>(control.step, 1);
    row.value = control.value;

    switch (control.kind) {
    case CameraControl::Kind::Integer: {
        row.label = new QLabel(tr("%1:").arg(withMnemonic(name, mnemonics)));
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(row.minimum, row.maximum);
        slider->setSingleStep(row.step);
        const std::int64_t span = std::int64_t(row.maximum) - row.minimum;
        slider->setPageStep(int(std::max<std::int64_t>(row.step, span / 10 / row.step * row.step)));
        slider->setMinimumWidth(fontMetrics().averageCharWidth() * 24);
        auto* field = new QSpinBox;
        field->setObjectName(objectName + QStringLiteral("_value"));
        field->setRange(row.minimum, row.maximum);
        field->setSingleStep(row.step);
        // Typed digits reach the camera on Enter or when the field is left,
        // not one digit at a time; the arrows take effect at once.
        field->setKeyboardTracking(false);
        field->setAccessibleName(name);
        row.label->setBuddy(slider);
        row.editor = slider;
        row.field = field;
        grid.addWidget(row.label, r, 0);
        grid.addWidget(slider, r, 1);
        grid.addWidget(field, r, 2);
        connect(slider, &QSlider::valueChanged, this, [this, id](int v) { integerChanged(id, v); });
        connect(field, &QSpinBox::valueChanged, this, [this, id](int v) { integerChanged(id, v); });
        break;
    }
    case CameraControl::Kind::Boolean: {
        auto* check = new QCheckBox(withMnemonic(name, mnemonics));
        row.editor = check;
        grid.addWidget(check, r, 1, 1, 2);
        connect(check, &QCheckBox::toggled, this, [this, id](bool on) { sendControl(id, on ? 1 : 0); });
        break;
    }
    case CameraControl::Kind::Menu: {
        row.label = new QLabel(tr("%1:").arg(withMnemonic(name, mnemonics)));
        auto* box = new QComboBox;
        for (const auto& [value, label] : control.menu)
            box->addItem(cameraMenuItemName(control.id, value, label), int(value));
        row.label->setBuddy(box);
        row.editor = box;
        grid.addWidget(row.label, r, 0);
        grid.addWidget(box, r, 1, 1, 2);
        connect(box, &QComboBox::currentIndexChanged, this, [this, id, box](int index) {
            if (index >= 0)
                sendControl(id, box->itemData(index).toInt());
        });
        break;
    }
    case CameraControl::Kind::Button: {
        auto* button = makeButton(withMnemonic(name, mnemonics), "");
        row.editor = button;
        grid.addWidget(button, r, 1, 1, 2, Qt::AlignLeft);
        connect(button, &QPushButton::clicked, this, [this, id] { sendControl(id, 1); });
        break;
    }
    }
    row.editor->setObjectName(objectName);
    row.editor->setAccessibleName(name);
    rows_.push_back(row);
    ControlRow& added = rows_.back();
    showValue(added, control.value);
    if (added.label)
        added.label->setEnabled(!control.inactive);
    added.editor->setEnabled(!control.inactive);
    if (added.field)
        added.field->setEnabled(!control.inactive);
}

CameraSourceDialog::ControlRow* CameraSourceDialog::row(std::uint32_t id)
{
    const auto found = std::find_if(rows_.begin(), rows_.end(), [id](const ControlRow& r) { return r.id == id; });
    return found == rows_.end() ? nullptr : &*found;
}

void CameraSourceDialog::integerChanged(std::uint32_t id, int value)
{
    ControlRow* r = row(id);
    if (!r)
        return;
    const std::int32_t snapped = snapToStep(value, r->minimum, r->maximum, r->step);
    // Slider and field show one value; a slider dragged between two steps
    // shows the step it will set.
    showValue(*r, snapped);
    // A drag moves the slider a pixel at a time; the camera hears only of
    // values it takes and that differ from the last one.
    if (snapped != r->value)
        sendControl(id, snapped);
}

void CameraSourceDialog::sendControl(std::uint32_t id, std::int32_t value)
{
    if (!camera_)
        return;
    try {
        camera_->setControl(id, value);
    } catch (const CaptureError& e) {
        showStatus(QString::fromStdString(e.what()));
        // The widget goes back to what the camera holds.
        refreshControls(std::nullopt);
        return;
    }
    if (ControlRow* r = row(id))
        r->value = value;
    showStatus({});
    refreshControls(id);
}

void CameraSourceDialog::refreshControls(std::optional<std::uint32_t> keep)
{
    std::vector<CameraControl> controls;
    try {
        controls = camera_->controls();
    } catch (const CaptureError& e) {
        if (statusLabel_->text().isEmpty())
            showStatus(QString::fromStdString(e.what()));
        return;
    }
    for (ControlRow& r : rows_) {
        const auto found = std::find_if(
            controls.begin(), controls.end(), [&](const CameraControl& c) { return c.id == r.id; });
        // A control the camera no longer lists cannot be set.
        const bool enabled = found != controls.end() && !found->inactive;
        if (r.label)
            r.label->setEnabled(enabled);
        r.editor->setEnabled(enabled);
        if (r.field)
            r.field->setEnabled(enabled);
        if (found != controls.end() && r.id != keep) {
            r.value = found->value;
            showValue(r, r.value);
        }
    }
}

void CameraSourceDialog::showValue(const ControlRow& r, std::int32_t value)
{
    switch (r.kind) {
    case CameraControl::Kind::Integer: {
        const QSignalBlocker sliderBlocker(r.editor);
        const QSignalBlocker fieldBlocker(r.field);
        static_cast<QSlider*>(r.editor)->setValue(value);
        r.field->setValue(value);
        break;
    }
    case CameraControl::Kind::Boolean: {
        const QSignalBlocker blocker(r.editor);
        static_cast<QCheckBox*>(r.editor)->setChecked(value != 0);
        break;
    }
    case CameraControl::Kind::Menu: {
        const QSignalBlocker blocker(r.editor);
        auto* box = static_cast<QComboBox*>(r.editor);
        box->setCurrentIndex(box->findData(int(value)));
        break;
    }
    case CameraControl::Kind::Button:
        break;
    }
}

void CameraSourceDialog::resetToDefaults()
{
    if (!camera_)
        return;
    std::vector<CameraControl> pending;
    try {
        pending = camera_->controls();
    } catch (const CaptureError& e) {
        showStatus(QString::fromStdString(e.what()));
        return;
    }
    // Buttons start an action ("one-shot white balance"); they have no
    // value to go back to.
    std::erase_if(pending, [](const CameraControl& c) {
        return c.kind == CameraControl::Kind::Button || c.value == c.defaultValue;
    });
    // A camera may refuse a manual value (a white balance temperature, an
    // exposure time) while its automatic mode is on. Automatic modes are
    // switches and menus and the values they take over are numbers, so the
    // numbers go first, while their automatic modes are still as the user
    // left them. Whatever failed all the same is tried once more at the end.
    std::stable_partition(pending.begin(), pending.end(),
        [](const CameraControl& c) { return c.kind == CameraControl::Kind::Integer; });
    QString error;
    for (int pass = 0; pass < 2 && !pending.empty(); ++pass) {
        std::vector<CameraControl> failed;
        error.clear();
        for (const CameraControl& c : pending) {
            try {
                camera_->setControl(c.id, c.defaultValue);
            } catch (const CaptureError& e) {
                error = QString::fromStdString(e.what());
                failed.push_back(c);
            }
        }
        pending = std::move(failed);
    }
    showStatus(error);
    refreshControls(std::nullopt);
}

void CameraSourceDialog::fixTabOrder()
{
    // Controls of a newly attached camera were made after the buttons; the
    // Tab key still goes down the dialog as it reads.
    QWidget* previous = cameraBox_;
    for (const ControlRow& r : rows_) {
        for (QWidget* w : { r.editor, static_cast<QWidget*>(r.field) }) {
            if (!w)
                continue;
            setTabOrder(previous, w);
            previous = w;
        }
    }
    setTabOrder(previous, resetButton_);
    setTabOrder(resetButton_, closeButton_);
}

void CameraSourceDialog::showStatus(const QString& text) { setStatus(*statusLabel_, text); }
