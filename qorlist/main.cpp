// qorlist: lists the wireless sites that a USB-attached printer sees.
#include <cstdio>

#include "SurveyApplication.h"

int main(int argc, char** argv) {
    return qor::runSurveyLister(argc, argv, qor::sharedUsbChannels(), stdout);
}
