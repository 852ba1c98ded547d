// A periodic timer whose enabled state is what the program reads, whether or
// not the system gave it a timer: a stream switched on counts as on even when
// no tick can come, so the next press switches it off.
#pragma once

#include <QObject>
#include <QTimer>

class TTimer : public QObject {
    Q_OBJECT
public:
    explicit TTimer(QObject* parent = nullptr);

    bool enabled() const { return enabled_; }
    // Switching on starts a fresh period, so the first tick comes one
    // interval later. Throws EOrvantaError "Not enough timers available" when
    // the system refuses a timer; the timer stays enabled all the same.
    void setEnabled(bool on);

    int interval() const { return timer_.interval(); }
    void setInterval(int ms);

signals:
    void timeout();

private:
    QTimer timer_;
    bool enabled_ = false;
};
