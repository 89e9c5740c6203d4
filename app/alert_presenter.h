#pragma once

#include <optional>
#include <string>
#include <vector>

// One modal alert, as the user sees it.
struct Alert {
  enum class Style { informational, warning, critical };

  Style style = Style::informational;
  std::string title;
  std::string message;
  // Left to right as the user reads them; the first is the default. Empty: one "OK" button.
  std::vector<std::string> buttons;
  // A themed icon name or a resource path; the style's own icon when absent.
  std::optional<std::string> icon;
  // The button Escape and closing the box answer as; the second where there are two or more.
  std::optional<int> escapeButton = std::nullopt;
};

// Shows alerts. The desktop shows message boxes; tests answer from a script.
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;

  // Runs the alert modally and returns the index of the button pressed, or -1 when it was
  // dismissed another way (Escape, closing the box).
  virtual int present(const Alert& alert) = 0;
};
