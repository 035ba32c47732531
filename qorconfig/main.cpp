// qorconfig: configures a USB-attached printer's wireless adapter.
#include "ConfigCommand.h"

int main(int argc, char** argv) {
    return qor::qorconfigMain(argc, argv) & 0xFF;
}
