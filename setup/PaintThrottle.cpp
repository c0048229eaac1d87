// Throttled painting of the mailbox lists and the progress bar while they fill.

#include "setup/PaintThrottle.h"

#include <QListView>

namespace lorvanta::setup {

PaintThrottle::PaintThrottle(std::initializer_list<QWidget*> widgets,
                             std::chrono::milliseconds interval)
    : interval_(interval) {
    for (auto* widget : widgets) {
        if (!widget || !widget->updatesEnabled())
            continue;
        auto* list = qobject_cast<QListView*>(widget);
        const bool batching = list && list->layoutMode() == QListView::SinglePass;
        if (batching) {
            list->setBatchSize(10);
            list->setLayoutMode(QListView::Batched);
        }
        widgets_.push_back({widget, batching});
    }
    Hold(true);
    sincePainted_.start();
    outer_ = platform::SetYieldHook([this] { Yield(); });
}

PaintThrottle::~PaintThrottle() {
    platform::SetYieldHook(std::move(outer_));
    for (const auto& held : widgets_) {
        if (auto* list = held.list ? qobject_cast<QListView*>(held.widget.data()) : nullptr) {
            list->setLayoutMode(QListView::SinglePass);
            list->doItemsLayout();
        }
    }
    Hold(false);
}

void PaintThrottle::Yield() {
    if (!outer_)
        return; // nobody to yield to
    if (sincePainted_.hasExpired(interval_.count())) {
        // Enabling updates repaints each widget whole in the events handled next.
        Hold(false);
        outer_();
        Hold(true);
        sincePainted_.restart();
    } else {
        outer_();
    }
}

void PaintThrottle::Hold(bool held) {
    for (const auto& each : widgets_)
        if (each.widget)
            each.widget->setUpdatesEnabled(!held);
}

} // namespace lorvanta::setup
