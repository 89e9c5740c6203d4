#include "app/app_delegate.h"

// The problem-report form is not there yet; the buttons and menu items that lead to it are.
void AppDelegate::reportProblemPressed() {}
