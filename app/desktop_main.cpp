#include "app/desktop_application.h"

// The desktop program, started by the varnelo-eject command when it is given no command.
int main(int argc, char** argv) {
  return runDesktopApplication(argc, argv);
}
