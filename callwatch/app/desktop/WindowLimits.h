#pragma once
// A window's layout gives it its minimum size when it is first shown, after the native window is
// made, and telling the window system again is a change that not every platform can take (the
// offscreen one cannot). Settled before the window exists, the limits are handed over with it.
#include <QLayout>
#include <QWidget>

inline void SettleSizeLimits(QWidget* window) {
  window->ensurePolished();
  if (QLayout* layout = window->layout()) layout->activate();
}
