#include "backend.h"

#include <arpa/inet.h>
#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SharedDiscovery.h"
#include "TraceLog.h"

#define MAIN_TRACE(...) log_write('I', __LINE__, "src/netbackend", "main", __VA_ARGS__)

bool isDottedAddress(const std::string& text) {
    if (text.empty())
        return false;
    int dots = 0;
    for (char c : text) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 3;
}

bool isValidIpv4(const std::string& text) {
    struct in_addr address;
    if (text.find('\0') != std::string::npos)
        return false;
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

std::string blankControls(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return result;
}

std::string quoteField(const std::string& text) {
    std::string result;
    for (char c : blankControls(text)) {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result;
}

std::string formatDeviceLine(int n, const std::string& scheme, const HcpDevice& device) {
    std::string makeModel = device.model.find(device.manufacturer) != std::string::npos
                                ? device.model
                                : device.manufacturer + " " + device.model;
    std::string line = "network ";
    line += blankControls(scheme) + "://" + blankControls(device.mac);
    line += " \"" + quoteField(makeModel) + "\" \"";
    line += quoteField(device.manufacturer) + " Network Printer #" + std::to_string(n) + " (" +
            quoteField(device.mac) + ")\"";
    line += " \"" + quoteField(device.ip) + "\"";
    return line;
}

void splitDeviceUri(const std::string& uri, std::string& scheme, std::string& target) {
    size_t separator = uri.find("://");
    scheme = separator == std::string::npos ? uri : uri.substr(0, separator);
    size_t slashes = uri.find("//");
    target = slashes == std::string::npos ? std::string() : uri.substr(slashes + 2);
}

std::string socketBackendPath(const char* serverbin) {
    return std::string(serverbin ? serverbin : "/usr/lib/cups") + "/backend/socket";
}

namespace {

void printLine(const std::string& line) {
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

int execSocketBackend(const std::string& address, int argc, char** argv) {
    std::string path = socketBackendPath(getenv("CUPS_SERVERBIN"));
    std::string uri = "socket://" + address;
    setenv("DEVICE_URI", uri.c_str(), 1);
    std::vector<char*> arguments(argv, argv + argc);
    arguments[0] = &uri[0];
    arguments.push_back(nullptr);
    MAIN_TRACE("Executing backend %s with URI: %s", path.c_str(), uri.c_str());
    fflush(stdout);
    execv(path.c_str(), arguments.data());
    int error = errno;
    MAIN_TRACE("exec of %s failed: %s", path.c_str(), strerror(error));
    fprintf(stderr, "ERROR: Unable to execute %s: %s\n", path.c_str(), strerror(error));
    return 1;
}

// A cancelled job (SIGTERM from the scheduler) or an interrupt ends the
// search at once with success. Nothing is held that needs tidying: the
// kernel closes the discovery socket, and exec resets the disposition for
// the socket backend.
extern "C" void endSearch(int) {
    _exit(0);
}

void catchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = endSearch;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void sleepSeconds(long seconds) {
    struct timespec left = {seconds, 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Job mode with a hardware address: one discovery round after another until
// the printer answers, then the socket backend. Each round binds and closes
// its own socket, so jobs of several queues can wait side by side, and a
// finder of its own, so that a long wait gathers nothing from round to round.
int runJob(const std::string& programName, const std::string& target, int argc, char** argv) {
    catchStopSignals();
    const char* jobClass = getenv("CLASS");
    bool oneRound = jobClass && *jobClass;
    std::string shown = blankControls(target);
    // Stays set while the printer is away: the scheduler's MaxJobTime, not
    // this backend, ends a job whose printer never comes back.
    fprintf(stderr, "STATE: +connecting-to-device\n");
    fprintf(stderr, "INFO: Looking for printer with hardware address %s\n", shown.c_str());
    fflush(stderr);
    for (int round = 1;; ++round) {
        MAIN_TRACE("Discovery round %d for %s", round, target.c_str());
        Hcp finder(programName);
        std::string address;
        bool queried = finder.discover(
            [&](const HcpDevice& device) {
                // Only a well-formed IPv4 address may go into the socket URI:
                // a host name, port or options from the network would
                // redirect the job.
                if (device.mac != target || !isValidIpv4(device.ip))
                    return false;
                MAIN_TRACE("discovered ip %s for %s", device.ip.c_str(), target.c_str());
                address = device.ip;
                return true;
            },
            nullptr, 5353, kJobWindowSeconds);
        if (!address.empty()) {
            fprintf(stderr, "STATE: -connecting-to-device\n");
            return execSocketBackend(address, argc, argv);
        }
        MAIN_TRACE("Device not found with MAC:%s", target.c_str());
        if (oneRound) {
            fprintf(stderr, "ERROR: Printer with hardware address %s not found\n", shown.c_str());
            return 1;
        }
        // This line is what the queue shows as its state while the job waits.
        if (queried) {
            fprintf(stderr,
                    "INFO: Printer with hardware address %s has not answered, still looking for "
                    "it\n",
                    shown.c_str());
        } else {
            fprintf(stderr,
                    "INFO: Unable to send the discovery query for printer %s, trying again\n",
                    shown.c_str());
        }
        fflush(stderr);
        sleepSeconds(kJobPauseSeconds);
    }
}

}  // namespace

int runBackend(int argc, char** argv) {
    if (argc == 2 && strncmp(argv[1], "-v", 2) == 0) {
        printf("%.1f\n", kBackendVersion);
        fflush(stdout);
        return 0;
    }
    bool jobMode = argc >= 6;
    std::string programName = ownProgramName();
    std::string scheme, target;
    if (jobMode) {
        const char* uri = getenv("DEVICE_URI");
        if (uri)
            splitDeviceUri(uri, scheme, target);
    } else {
        scheme = programName;
    }
    Hcp finder(programName);

    if (!target.empty() && isDottedAddress(target)) {
        if (!isValidIpv4(target)) {
            MAIN_TRACE("Invalid IPv4 address in device URI: %s", target.c_str());
            fprintf(stderr, "ERROR: Invalid IPv4 address in device URI: %s\n",
                    blankControls(target).c_str());
            return 1;
        }
        return execSocketBackend(target, argc, argv);
    }

    if (target.empty()) {
        // Listing (also job mode without a usable URI): print each line as
        // soon as its answer is accepted, since the spooler stops reading
        // long before the window ends.
        int n = 0;
        discoverShared(finder, [&](const HcpDevice& device) {
            printLine(formatDeviceLine(++n, scheme, device));
            return false;
        });
        return 0;
    }

    return runJob(programName, target, argc, argv);
}
