// cendrow-resolv: the small program that writes /etc/resolv.conf for a
// program run by the desktop user (see platform/resolv_helper.h).
#include "platform/resolv_helper.h"

int main(int argc, char** argv) {
    return ResolvHelper_Main(argc, argv);
}
