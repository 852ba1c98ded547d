#include "timer.h"

#include "compose/errors.h"

TTimer::TTimer(QObject* parent)
    : QObject(parent)
{
    // A tick that falls due while the thread is busy is not queued up behind
    // another: a Qt timer has at most one tick pending.
    connect(&timer_, &QTimer::timeout, this, &TTimer::timeout);
}

void TTimer::setEnabled(bool on)
{
    enabled_ = on;
    if (!on) {
        timer_.stop();
        return;
    }
    timer_.start();
    // A refused timer has no id; Qt may still call it active.
    if (timer_.timerId() <= 0)
        throw EOrvantaError("Not enough timers available");
}

void TTimer::setInterval(int ms)
{
    timer_.setInterval(ms);
    // A running timer starts its new period now, as a stopped one would.
    if (enabled_ && timer_.timerId() > 0)
        timer_.start();
}
