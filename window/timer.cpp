#include "forms.h"

namespace forms {

Timer::Timer(Form& form, const DesignControl& design) : form_(form), interval_(design.interval) {
    clock_.setTimerType(Qt::PreciseTimer); // 100 ticks must take 10 s, not 11
    clock_.setInterval(interval_);
    QObject::connect(&clock_, &QTimer::timeout, [this] { deliver(); });
}

void Timer::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    waiting_ = false;
    if (enabled && !byHand_ && interval_ > 0)
        clock_.start();
    else
        clock_.stop();
}

void Timer::setInterval(int milliseconds) {
    interval_ = milliseconds;
    clock_.setInterval(milliseconds);
    if (enabled_ && !byHand_)
        clock_.start(); // a new interval starts a new period
}

void Timer::DriveByHand() {
    byHand_ = true;
    clock_.stop();
}

void Timer::deliver() {
    if (!enabled_ || form_.Closed())
        return;
    if (!form_.Deliver([this] {
            if (onTimer)
                onTimer();
        }))
        waiting_ = true;
}

} // namespace forms
