// devsetup: one device-installation task per run, reported only through the exit code.
#include "setup/dispatch.h"

int main(int argc, char* argv[]) { return devsetup::RunCommandLine(argc, argv); }
