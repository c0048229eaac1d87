#pragma once

// Holds back the painting of some widgets while a long loop yields to the window after every
// step: repainting a list after every added row costs more than the row itself. For its
// lifetime it wraps the thread's yield hook, so the window goes on handling its events the one
// way it always does; the held-back painting goes through at most once per interval, so the
// window still shows the work going on, and in full when the throttle ends. Lists lay out their
// rows in small batches meanwhile (a list lays out every row again after each one added), and
// all at once at the end.

#include "platform/core/Yield.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <initializer_list>
#include <vector>

namespace lorvanta::setup {

class PaintThrottle {
public:
    explicit PaintThrottle(std::initializer_list<QWidget*> widgets,
                           std::chrono::milliseconds interval = std::chrono::milliseconds(40));
    ~PaintThrottle();
    PaintThrottle(const PaintThrottle&) = delete;
    PaintThrottle& operator=(const PaintThrottle&) = delete;

private:
    void Yield();
    void Hold(bool held);

    struct Held {
        QPointer<QWidget> widget;
        bool list = false;
    };
    std::vector<Held> widgets_;
    std::chrono::milliseconds interval_;
    QElapsedTimer sincePainted_;
    platform::YieldHook outer_;
};

} // namespace lorvanta::setup
