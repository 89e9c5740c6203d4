#pragma once

#include <QLabel>

// An image that takes no mouse events: a badge drawn over a button lets the button's clicks
// through.
class BadgeImageView : public QLabel {
 public:
  explicit BadgeImageView(QWidget* parent = nullptr) : QLabel(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignCenter);
  }
};
