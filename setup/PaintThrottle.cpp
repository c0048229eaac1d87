#include "setup/PaintThrottle.h"

#include <QCoreApplication>

namespace lorvanta::setup {

PaintThrottle::PaintThrottle(std::initializer_list<QWidget*> widgets,
                             std::chrono::milliseconds interval)
    : interval_(interval) {
    for (auto* widget : widgets)
        if (widget && widget->updatesEnabled())
            widgets_.emplace_back(widget);
    Hold(true);
    sincePainted_.start();
}

PaintThrottle::~PaintThrottle() {
    Hold(false);
}

void PaintThrottle::ProcessEvents() {
    if (sincePainted_.hasExpired(interval_.count())) {
        // Enabling updates repaints each widget whole in the events processed next.
        Hold(false);
        QCoreApplication::processEvents();
        Hold(true);
        sincePainted_.restart();
    } else {
        QCoreApplication::processEvents();
    }
}

void PaintThrottle::Hold(bool held) {
    for (const auto& widget : widgets_)
        if (widget)
            widget->setUpdatesEnabled(!held);
}

} // namespace lorvanta::setup
