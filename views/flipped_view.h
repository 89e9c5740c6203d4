#pragma once

#include <QWidget>

// A plain container. Every Qt widget already has its origin at the top left with y growing
// downwards; the type exists so containers that rely on that read as such.
class FlippedView : public QWidget {
 public:
  using QWidget::QWidget;
};
