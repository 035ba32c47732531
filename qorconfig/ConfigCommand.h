// One qorconfig run: the command word, its options and its action.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ConfigDetails.h"
#include "WirelessConfigurator.h"

namespace qor {

class ConfigCommand {
  public:
    // Makes the configurator for the action stage (tests give a scripted one).
    using ConfiguratorFactory =
        std::function<std::unique_ptr<WirelessConfigurator>(const ConfigDetails&)>;
    // Runs a certificate command word ("-icer", "-rcerdefs", "-csr").
    using CertRunner = std::function<int(const std::string&, const ConfigDetails&)>;

    // Whether the password may be asked for (standard input is a terminal).
    using PromptCheck = std::function<bool()>;

    // Copies the arguments and runs dispatch; result() holds its result. A
    // refused input (InputRefused included) gives one "qorconfig: ..." line
    // on standard error and the result 1.
    ConfigCommand(int argc, const char* const* argv);
    ConfigCommand(int argc, const char* const* argv, ConfiguratorFactory makeConfigurator,
                  CertRunner runCert, PromptCheck canPrompt = nullptr);

    // The action's result; the exit status is its low 8 bits.
    int result() const { return m_Result; }
    const ConfigDetails& configuration() const { return m_Config; }

    // The option stage, the checks of what a configuration word will send,
    // then the action stage. Returns the result.
    int dispatch();

  private:
    // Reads the options (and the NPA file); 1 after a refusal, else 0.
    int optionStage();
    // Checks the values a configuration word will send; 1 after a refusal.
    int preflight();
    // Prints the refusal line; returns 1.
    static int refuse(const std::string& refusal);
    int runWithRetry(int (*action)(WirelessConfigurator&));

    int m_Argc;
    std::vector<std::string> m_Args;
    std::string m_Command;
    ConfigDetails m_Config;
    std::unique_ptr<WirelessConfigurator> m_Configurator;
    ConfiguratorFactory m_MakeConfigurator;
    CertRunner m_RunCert;
    PromptCheck m_CanPrompt;
    int m_Result = 0;
};

// The program: usage for argc <= 1, else one ConfigCommand. Returns the
// result (main takes it to 8 bits).
int qorconfigMain(int argc, const char* const* argv);

}  // namespace qor
