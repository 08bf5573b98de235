// mbus-console: the M-Bus meter test console.
#include "console/mbus_program.h"

int main(int argc, char** argv) {
    return mbus::console::Mbus(argc, argv);
}
