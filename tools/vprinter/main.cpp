// qor-vprinter: runs a command against a virtual USB printer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Printer.h"
#include "Runner.h"
#include "Scenario.h"

namespace {

const char kUsage[] =
    "usage: qor-vprinter [--kind forward|direct] [--scenario FILE] [--journal FILE]\n"
    "                    [--lp N] [--log FILE] -- COMMAND [ARGS...]\n";

int usage(const char* why) {
    if (why)
        std::fprintf(stderr, "qor-vprinter: %s\n", why);
    std::fputs(kUsage, stderr);
    return vprinter::kRunnerFailure;
}

}  // namespace

int main(int argc, char** argv) {
    vprinter::Scenario scenario;
    std::string kind, scenarioPath, journalPath, logPath;
    vprinter::RunOptions options;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool takesValue = arg == "--kind" || arg == "--scenario" || arg == "--journal" ||
                          arg == "--lp" || arg == "--log";
        if (!takesValue)
            return usage(("unknown option '" + arg + "'").c_str());
        if (i + 1 >= argc)
            return usage(("option " + arg + " needs a value").c_str());
        std::string value = argv[++i];
        if (arg == "--kind") {
            if (value != "forward" && value != "direct")
                return usage("--kind must be forward or direct");
            kind = value;
        } else if (arg == "--scenario") {
            scenarioPath = value;
        } else if (arg == "--journal") {
            journalPath = value;
        } else if (arg == "--log") {
            logPath = value;
        } else {
            char* end = nullptr;
            long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 0 || n > 255)
                return usage("--lp must be a number from 0 to 255");
            options.lp = static_cast<int>(n);
        }
    }
    for (; i < argc; ++i)
        options.command.push_back(argv[i]);
    if (options.command.empty())
        return usage("no command given after --");

    std::string error;
    if (!scenarioPath.empty() && !vprinter::loadScenario(scenarioPath, scenario, error)) {
        std::fprintf(stderr, "qor-vprinter: %s\n", error.c_str());
        return vprinter::kRunnerFailure;
    }
    // The command line wins over the scenario file.
    if (kind == "forward")
        scenario.kind = vprinter::PrinterKind::Forward;
    if (kind == "direct")
        scenario.kind = vprinter::PrinterKind::Direct;

    FILE* journal = nullptr;
    if (!journalPath.empty() && !(journal = std::fopen(journalPath.c_str(), "w"))) {
        std::fprintf(stderr, "qor-vprinter: cannot write journal '%s': %s\n", journalPath.c_str(),
                     std::strerror(errno));
        return vprinter::kRunnerFailure;
    }
    if (!logPath.empty() && !(options.log = std::fopen(logPath.c_str(), "w"))) {
        std::fprintf(stderr, "qor-vprinter: cannot write log '%s': %s\n", logPath.c_str(),
                     std::strerror(errno));
        if (journal)
            std::fclose(journal);
        return vprinter::kRunnerFailure;
    }
    vprinter::Printer printer(scenario);
    printer.setJournal(journal);
    int status = vprinter::runWithPrinter(printer, options);
    if (journal)
        std::fclose(journal);
    if (options.log)
        std::fclose(options.log);
    return status;
}
