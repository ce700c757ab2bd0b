// Raw loopback sockets for the benchmarks' baselines.
#ifndef QX_BENCH_LOOPBACK_H
#define QX_BENCH_LOOPBACK_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

// A listening socket on 127.0.0.1 and a free port; its address in in.
inline int ListenLoopback(sockaddr_in& in, int backlog) {
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    in = sockaddr_in();
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd, reinterpret_cast<sockaddr*>(&in), sizeof in);
    listen(lfd, backlog);
    socklen_t len = sizeof in;
    getsockname(lfd, reinterpret_cast<sockaddr*>(&in), &len);
    return lfd;
}

inline int ConnectLoopback(const sockaddr_in& in) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    connect(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in);
    return fd;
}

#endif  // QX_BENCH_LOOPBACK_H
