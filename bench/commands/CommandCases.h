// The command words of qorlist and qorconfig as the benchmark runs them
// against the virtual printer, each with the waits that the protocol itself
// puts on its happy path (its floor) and what a correct run prints.
#pragma once

#include <string>
#include <vector>

namespace qorbench {

// One protocol wait on the road of a command.
struct Wait {
    enum Kind {
        Sleep,       // a fixed sleep after a request, `seconds` long
        ReadWindow,  // a transport read of a reply shorter than its buffer
    };
    Kind kind;
    double seconds;  // Sleep only
};

struct CommandCase {
    std::string name;               // row label: program and arguments
    std::string program;            // "qorconfig" or "qorlist"
    std::vector<std::string> args;  // "@DIR@" stands for the run's work directory
    std::string kind;               // virtual printer kind: "forward" or "direct"
    std::string scenario;           // scenario lines added to the built-in values
    std::vector<Wait> waits;        // the floor, in the order they happen
    std::string floorText;          // the floor as a formula, for the table
    int expectStatus;               // exit status of a correct run
    std::string expectStdout;       // a text a correct run prints ("" for none)
    std::string expectFile;         // a file a correct run writes in @DIR@ ("" for none)
};

// Every command word, in table order.
const std::vector<CommandCase>& commandCases();

// The floor of a run that started at `startRealtime` (seconds of the
// real-time clock). A read window closes once the whole-second clock has
// moved on more than 4 seconds since the wait began, so its length depends
// on where in a second it began: the model follows that clock.
double floorSeconds(const std::vector<Wait>& waits, double startRealtime);

}  // namespace qorbench
