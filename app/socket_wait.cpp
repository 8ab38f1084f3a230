#include "app/socket_wait.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

int AcceptUnlessStopped(int listenFd, int stopFd) {
    pollfd p[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) return errno == EINTR ? -1 : -2;
    if (p[1].revents) return -2;
    return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}
