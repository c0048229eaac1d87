#pragma once

// Holds back the painting of some widgets while a long loop processes events after every step:
// repainting a list after every added row costs more than the row itself. The held-back
// painting goes through at most once per interval, so the window still shows the work going on,
// and in full when the throttle ends.

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

    // Processes the pending events; once per interval the held-back widgets paint as well.
    void ProcessEvents();

private:
    void Hold(bool held);

    std::vector<QPointer<QWidget>> widgets_;
    std::chrono::milliseconds interval_;
    QElapsedTimer sincePainted_;
};

} // namespace lorvanta::setup
