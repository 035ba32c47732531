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

    // Copies the arguments and runs dispatch; result() holds its result.
    ConfigCommand(int argc, const char* const* argv);
    ConfigCommand(int argc, const char* const* argv, ConfiguratorFactory makeConfigurator,
                  CertRunner runCert);

    // The action's result; the exit status is its low 8 bits.
    int result() const { return m_Result; }
    const ConfigDetails& configuration() const { return m_Config; }

    // The option stage, then the action stage. Returns the result.
    int dispatch();

  private:
    int optionStage();
    int runWithRetry(int (*action)(WirelessConfigurator&));

    int m_Argc;
    std::vector<std::string> m_Args;
    std::string m_Command;
    ConfigDetails m_Config;
    std::unique_ptr<WirelessConfigurator> m_Configurator;
    ConfiguratorFactory m_MakeConfigurator;
    CertRunner m_RunCert;
    int m_Result = 0;
};

// The program: usage for argc <= 1, else one ConfigCommand. Returns the
// result (main takes it to 8 bits).
int qorconfigMain(int argc, const char* const* argv);

}  // namespace qor
