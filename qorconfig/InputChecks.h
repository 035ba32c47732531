// What qorconfig checks in its input before anything reaches the printer.
// Every check returns a refusal: one line for the user saying what is
// wrong and what to do, without the "qorconfig: " that the caller puts in
// front; the empty text when the input is accepted. Refusals never repeat
// a value that may be a secret; they name the option or the position.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "ConfigDetails.h"

namespace qor {

using Refusal = std::string;

// Raised where a refusal can only be found while a message is being built
// (the answer typed at the password prompt); the command turns it into its
// one line and status 1 before anything of that message is sent.
struct InputRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a command word configures: the basic network (-c and the top-level
// flow), the advanced kinds (-ca), or nothing.
enum class ConfigKind { None, Basic, Advanced };

// Words that name an action; any other first argument runs the top-level flow.
bool isCommandWord(const std::string& word);

// "-c, -ca, ..." for messages and the usage text.
std::string commandWordList();

// Arguments from `first` on, as the option reader of the command line will
// take them: an argument holding a '-' must be one option written
// --NAME=VALUE (the value may be enclosed in double quotes as a whole);
// any other argument is the device path. With `topLevel`, argument `first`
// is the program's first argument and must not look like an unknown command
// word.
Refusal checkArguments(const std::vector<std::string>& args, size_t first, bool topLevel);

// An options file's text: every line is blank, a comment ('#' first) or one
// option; lines are at most 255 characters and hold no NUL or carriage
// return. `fileName` names the file in the refusal.
Refusal checkOptionsText(const std::string& text, const std::string& fileName);

// The values a configuration word sends. Accepted modes and channels are
// put into the one spelling the setting records encode ("Ad-hoc" and
// "adhoc" become "Ad-Hoc", "07" becomes "7"). `canPrompt`: standard input
// is a terminal, so -c and the top-level flow may ask for the password.
Refusal checkConfiguration(ConfigKind kind, ConfigDetails& configuration, bool canPrompt);

// A non-empty password of -c and the top-level flow (given or typed at the
// prompt) for `security`: WPA kinds take 8 to 63 printable ASCII characters
// or 64 hexadecimal digits (IEEE 802.11i), WEP a key of 5 or 13 characters
// or 10 or 26 hexadecimal digits; other kinds set no rule here.
Refusal checkPassword(const std::string& security, const std::string& password);

// Raw NPA text: only pairs of hexadecimal digits and white space. The
// refusal names the first bad line and column.
Refusal checkNpaText(const std::string& text, const std::string& fileName);

}  // namespace qor
