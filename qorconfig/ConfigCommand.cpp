#include "ConfigCommand.h"

#include <unistd.h>

#include <cstdio>

#include "CertProc.h"
#include "ConfigFlows.h"
#include "HCUSBTransport.h"
#include "InputChecks.h"
#include "NpaFile.h"
#include "Options.h"
#include "StatusQueries.h"

namespace qor {

ConfigCommand::ConfigCommand(int argc, const char* const* argv)
    : ConfigCommand(
          argc, argv,
          [](const ConfigDetails& c) { return std::make_unique<WirelessConfigurator>(c); },
          [](const std::string& word, const ConfigDetails& c) {
              CertProc processor;
              return processor.process(word, c);
          }) {}

ConfigCommand::ConfigCommand(int argc, const char* const* argv,
                             ConfiguratorFactory makeConfigurator, CertRunner runCert,
                             PromptCheck canPrompt)
    : m_Argc(argc),
      m_MakeConfigurator(std::move(makeConfigurator)),
      m_RunCert(std::move(runCert)),
      m_CanPrompt(canPrompt ? std::move(canPrompt) : [] { return ::isatty(STDIN_FILENO) == 1; }) {
    for (int i = 0; i < argc; ++i)
        m_Args.push_back(argv[i] ? argv[i] : "");
    if (argc > 1)
        m_Command = m_Args[1] == "--help" ? "-h" : m_Args[1];
    try {
        m_Result = dispatch();
    } catch (const InputRefused& refusal) {
        // Released first, so that the refusal is the run's last line.
        m_Configurator.reset();
        m_Result = refuse(refusal.what());
    }
}

namespace {

bool isOneOf(const std::string& word, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (word == w)
            return true;
    return false;
}

ConfigKind configKindOf(const std::string& word) {
    if (word == "-c" || !isCommandWord(word))
        return ConfigKind::Basic;
    return word == "-ca" ? ConfigKind::Advanced : ConfigKind::None;
}

// Ends a printer command: a command that gave up says why, in one line.
int reportOutcome(const WirelessConfigurator& c, int result) {
    std::string why = describeOutcome(c.outcome(), c.config().usbPath);
    if (!why.empty())
        std::fprintf(stderr, "qorconfig: %s\n", why.c_str());
    return result;
}

}  // namespace

int ConfigCommand::refuse(const std::string& refusal) {
    std::fprintf(stderr, "qorconfig: %s\n", refusal.c_str());
    return 1;
}

int ConfigCommand::optionStage() {
    std::vector<const char*> argv;
    for (const std::string& a : m_Args)
        argv.push_back(a.c_str());
    const char* const* args = argv.data();
    bool fileGiven = m_Argc > 2 && m_Args[2] == "-file";

    if (isOneOf(m_Command, {"-c", "-ca", "-cer", "-icer", "-rcerdefs", "-csr"})) {
        if (!fileGiven) {
            Refusal r = checkArguments(m_Args, 2, false);
            if (!r.empty())
                return refuse(r);
            parseOptions(m_Config, m_Argc, args);
        } else if (m_Argc > 3) {
            m_Config.usbPath = m_Argc > 4 ? m_Args[4] : "/dev/usb/lp0";
            std::string text;
            // Running on with the defaults would configure the wrong network.
            if (!readFileText(m_Args[3], text))
                return refuse("cannot open options file '" + m_Args[3] + "'");
            Refusal r = checkOptionsText(text, m_Args[3]);
            if (!r.empty())
                return refuse(r);
            parseOptionsText(m_Config, text);
        } else {
            // "-file" without a name: refusing beats configuring the defaults.
            return refuse("-file needs the name of an options file");
        }
    } else if (m_Command == "-npa") {
        if (fileGiven) {
            parseUsbPath(m_Config, m_Argc, args);
            std::string refusal;
            if (m_Argc > 3 && loadNpaFile(m_Config, m_Args[3], &refusal) == -2)
                return refuse(refusal);
        }
    } else if (!isCommandWord(m_Command)) {
        // The top-level flow takes the network options the usage text shows.
        Refusal r = checkArguments(m_Args, 1, true);
        if (!r.empty())
            return refuse(r);
        parseOptions(m_Config, m_Argc, args);
    } else {
        parseUsbPath(m_Config, m_Argc, args);
    }
    return 0;
}

int ConfigCommand::preflight() {
    Refusal r = checkConfiguration(configKindOf(m_Command), m_Config, m_CanPrompt());
    return r.empty() ? 0 : refuse(r);
}

int ConfigCommand::runWithRetry(int (*action)(WirelessConfigurator&)) {
    m_Configurator->setOutcome({});
    int result = action(*m_Configurator);
    // An error answer, or no answer at all to any forwarded try: a printer
    // of the direct kind takes the request unwrapped.
    if (result == -1 || m_Configurator->outcome().failure == Failure::NoAnswer) {
        m_Configurator->setForward(0);
        m_Configurator->setOutcome({});
        result = action(*m_Configurator);
    }
    return reportOutcome(*m_Configurator, result);
}

// The option stage, the checks of the input, then the action stage. A
// device path that can't be opened stops any action at once.
int ConfigCommand::dispatch() try {
    if (optionStage() != 0 || preflight() != 0)
        return 1;

    if (isOneOf(m_Command, {"-icer", "-rcerdefs", "-csr"}))
        return m_RunCert(m_Command, m_Config);

    m_Configurator = m_MakeConfigurator(m_Config);
    WirelessConfigurator& c = *m_Configurator;
    if (m_Command == "-h")
        return usage();
    if (m_Command == "-r")
        return reportOutcome(c, resetPrinter(c));
    if (m_Command == "-c")
        return runWithRetry(basicConfig);
    if (m_Command == "-ca")
        return runWithRetry(advancedConfig);
    if (m_Command == "-ip")
        return runWithRetry(showIpAddress);
    if (m_Command == "-t")
        return runWithRetry(waitConnected);
    if (m_Command == "-a")
        return reportOutcome(c, waitAdapter(c));
    if (m_Command == "-s")
        return runWithRetry(showSsid);
    if (m_Command == "-802s")
        return runWithRetry(query8021xStatus);
    if (m_Command == "-cer")
        return runWithRetry(certSettings);
    if (m_Command == "-npa")
        return sendNpaData(c);
    return reportOutcome(c, configurePrinter(c));
} catch (const DeviceUnavailable& unavailable) {
    // Nothing reached the printer; no try is spent on a path that can't open.
    std::fprintf(stderr, "qorconfig: %s\n", unavailable.what());
    return 1;
}

int qorconfigMain(int argc, const char* const* argv) {
    if (argc <= 1)
        return usage();
    ConfigCommand command(argc, argv);
    return command.result();
}

}  // namespace qor
