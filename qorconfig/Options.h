// Reading the qorconfig command line and options file into ConfigDetails.
#pragma once

#include <string>
#include <vector>

#include "ConfigDetails.h"

namespace qor {

// One option prefix and the field it fills.
struct OptionPrefix {
    const char* prefix;
    std::string ConfigDetails::*field;  // null for the WEP keys (see wepKeyIndex)
    int wepKeyIndex;                    // 0..3 for "--WEP-keyN=", else -1
};

// The 27 prefixes, in the order in which they are tried.
const std::vector<OptionPrefix>& optionPrefixes();

// Other spellings of an option, tried after the 27: "--password=" (the
// usage text's name) fills passwd like "--passwd=".
const std::vector<OptionPrefix>& optionAliases();

// The field that `option` fills in `configuration`.
std::string& optionField(ConfigDetails& configuration, const OptionPrefix& option);

// Applies one prefix to one argument. When `prefix` occurs in `argument`,
// `field` becomes the text between the first double quote and the next one
// (or the end) if the argument holds a quote, else the argument from the
// character position equal to the prefix length on. Returns true when the
// field was set (also to the empty text).
bool extractOptionValue(const std::string& argument, const std::string& prefix, std::string& field);

// Applies every prefix, in order, then the aliases, to one argument or file line.
void applyOptionPrefixes(ConfigDetails& configuration, const std::string& text);

// Options from the command line: every argument from argument 1 on that
// holds a '-' is tried against all prefixes; any other becomes usbPath (the
// last one wins).
void parseOptions(ConfigDetails& configuration, int argc, const char* const* argv);

// Options from a text file: usbPath = `devicePath`, then every line not
// starting with '#' is tried against all prefixes (lines are read in pieces
// of at most 255 characters). Returns 0, or -1 when the file cannot be
// opened (then nothing but usbPath is changed).
int parseOptionsFile(ConfigDetails& configuration, const std::string& file,
                     const std::string& devicePath);

// The whole content of a file; false when it cannot be opened.
bool readFileText(const std::string& path, std::string& text);

// The lines of an options file already in memory, as parseOptionsFile
// treats them (used by the file reader and the fuzzer).
void parseOptionsText(ConfigDetails& configuration, const std::string& text);

// Only the device path: the last argument from argument 1 on without '-'.
void parseUsbPath(ConfigDetails& configuration, int argc, const char* const* argv);

// The usage text, exactly as printed.
const char* usageText();

// What usage prints after the usage text: the command words and --help.
const char* commandWordsText();

// Prints the usage text and the command words to standard output; returns 0.
int usage();

}  // namespace qor
