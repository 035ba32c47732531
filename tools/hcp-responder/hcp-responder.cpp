// Answers the HCP discovery query with the replies of a scenario file.
//
//   hcp-responder SCENARIO [--exit-after SECONDS] [--group-on ADDRESS]...
//                 [--report-sent] [--silent-for SECONDS]
// Each --group-on joins the multicast group on the interface of that address;
// the first one also carries the multicast answers.
//
// Binds UDP 5353, joins 224.0.0.251 (on ADDRESS if given), and answers each
// query that is exactly the backend's 41-byte question; any other datagram
// is ignored. Prints "query from A.B.C.D" per answered query and, with
// --report-sent, "sent N in MS ms" once its replies are out (N datagrams,
// MS from the query to the last send). Reply delays count from the query's
// arrival, so a long list keeps its timing however many replies it holds.
// With --silent-for, a printer switched on late: queries in the first
// SECONDS after "ready" get no answer and print "unanswered query from A.B.C.D".
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "HcpScenario.h"
#include "hcp.h"

namespace {

struct timespec after(const struct timespec& start, int ms) {
    struct timespec t = start;
    t.tv_sec += ms / 1000;
    t.tv_nsec += (ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

double msSince(const struct timespec& start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) * 1e3 +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: hcp-responder SCENARIO [--exit-after S] [--group-on ADDRESS]...\n");
        return 2;
    }
    int exitAfter = 60;
    bool reportSent = false;
    int silentSeconds = 0;
    std::vector<struct in_addr> groupInterfaces;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--report-sent") == 0) {
            reportSent = true;
        } else if (i + 1 < argc && strcmp(argv[i], "--silent-for") == 0) {
            silentSeconds = atoi(argv[++i]);
        } else if (i + 1 < argc && strcmp(argv[i], "--exit-after") == 0) {
            exitAfter = atoi(argv[++i]);
        } else if (i + 1 < argc && strcmp(argv[i], "--group-on") == 0) {
            struct in_addr address;
            if (inet_pton(AF_INET, argv[++i], &address) != 1) {
                fprintf(stderr, "hcp-responder: bad address %s\n", argv[i]);
                return 2;
            }
            groupInterfaces.push_back(address);
        }
    }
    std::ifstream file(argv[1]);
    if (!file) {
        fprintf(stderr, "hcp-responder: cannot read %s\n", argv[1]);
        return 2;
    }
    std::stringstream text;
    text << file.rdbuf();
    std::vector<ReplySpec> replies;
    std::string error;
    if (!parseScenario(text.str(), replies, error)) {
        fprintf(stderr, "hcp-responder: %s: %s\n", argv[1], error.c_str());
        return 2;
    }
    std::stable_sort(replies.begin(), replies.end(),
                     [](const ReplySpec& a, const ReplySpec& b) { return a.delayMs < b.delayMs; });
    std::vector<std::vector<uint8_t>> datagrams;
    for (const ReplySpec& spec : replies)
        datagrams.push_back(buildReply(spec));

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(5353);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&local), sizeof local) != 0) {
        perror("hcp-responder: bind");
        return 1;
    }
    if (groupInterfaces.empty()) {
        struct in_addr any;
        any.s_addr = htonl(INADDR_ANY);
        groupInterfaces.push_back(any);
    }
    for (const struct in_addr& address : groupInterfaces) {
        struct ip_mreq membership;
        inet_pton(AF_INET, "224.0.0.251", &membership.imr_multiaddr);
        membership.imr_interface = address;
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
            perror("hcp-responder: join");
    }
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &groupInterfaces[0], sizeof groupInterfaces[0]);
    struct timeval timeout = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    struct timespec readyAt;
    clock_gettime(CLOCK_MONOTONIC, &readyAt);
    printf("ready\n");
    fflush(stdout);

    time_t end = time(nullptr) + exitAfter;
    while (time(nullptr) < end) {
        uint8_t datagram[9000];
        struct sockaddr_in from = {};
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(fd, datagram, sizeof datagram, 0,
                             reinterpret_cast<struct sockaddr*>(&from), &fromLength);
        struct timespec arrived;
        clock_gettime(CLOCK_MONOTONIC, &arrived);
        if (n != static_cast<ssize_t>(sizeof gDNSQueryPacket) ||
            memcmp(datagram, gDNSQueryPacket, sizeof gDNSQueryPacket) != 0) {
            continue;
        }
        char address[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        if (msSince(readyAt) < silentSeconds * 1000.0) {
            printf("unanswered query from %s\n", address);
            fflush(stdout);
            continue;
        }
        printf("query from %s\n", address);
        fflush(stdout);
        struct sockaddr_in group = {};
        group.sin_family = AF_INET;
        group.sin_port = htons(5353);
        inet_pton(AF_INET, "224.0.0.251", &group.sin_addr);
        int sent = 0;
        for (size_t i = 0; i < replies.size(); ++i) {
            const ReplySpec& spec = replies[i];
            if (spec.delayMs > 0) {
                struct timespec at = after(arrived, spec.delayMs);
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
                }
            }
            const std::vector<uint8_t>& bytes = datagrams[i];
            const struct sockaddr_in& to = spec.multicast ? group : from;
            for (int r = 0; r < spec.repeat; ++r) {
                if (sendto(fd, bytes.data(), bytes.size(), 0,
                           reinterpret_cast<const struct sockaddr*>(&to), sizeof to) > 0) {
                    ++sent;
                }
            }
        }
        if (reportSent) {
            printf("sent %d in %.0f ms\n", sent, msSince(arrived));
            fflush(stdout);
        }
    }
    close(fd);
    return 0;
}
