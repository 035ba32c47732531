// The printer's side of the NPA exchanges: turns each request packet into the
// answer bytes (or none), keeps the poll counters and the certificate store,
// applies the scenario's faults and writes the journal.
#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "Framing.h"
#include "Scenario.h"

namespace vprinter {

// Milliseconds of CLOCK_MONOTONIC: the clock of the journal's times, the
// same for every process of the machine, so that a caller can set them
// against its own readings.
double monotonicMs();

// A piece of the answer, written after waiting `delayMs` from the previous one.
struct OutputChunk {
    Bytes bytes;
    int delayMs = 0;
};

// What the printer made of one request (also what the journal line holds).
struct Handled {
    int sequence = 0;
    std::string kind;  // read, write, support, certmgr, unknown, preamble
    bool forwarded = false;
    bool answered = false;
    std::vector<OutputChunk> output;
};

class Printer {
  public:
    explicit Printer(Scenario scenario);

    // Journal destination (not owned); null for none.
    void setJournal(FILE* journal) { m_Journal = journal; }

    // Handles one whole request packet (as cut by PacketAssembler), received
    // at `receivedMs`, and returns what to send back. Never throws; malformed
    // packets get no answer.
    Handled handle(const Bytes& packet, double receivedMs = monotonicMs());

    // Records bytes that were not part of any packet (garbage before a start
    // byte, an abandoned partial packet) as an "unknown" journal line.
    void noteStray(const Bytes& bytes, const char* why, double atMs = monotonicMs());

    // The journal line of an answered request is written once its answer is
    // out: the caller that writes the answer reports when its last byte went
    // (answerSent), or that it never will (answersDropped: the device was
    // closed, or the run ends). Lines are written in request order, so a
    // line waits for the answers of the requests before it.
    void answerSent(int sequence, double atMs);
    void answersDropped();

    const Scenario& scenario() const { return m_Scenario; }

  private:
    struct Decoded;
    bool decode(const Request& request, Decoded& out, bool forwarded);
    Bytes answerRead(uint8_t group, uint8_t item, std::vector<Bytes>& packets);
    std::string answerCertCall(const std::string& xml, std::string& method);
    void applyFaults(const Decoded& what, Bytes& stream, Handled& result, std::string& note);
    void journal(const Decoded& what, const Request& request, const Handled& result,
                 const std::string& note, double receivedMs);
    // A journal line without its times and closing brace, waiting for its answer.
    struct JournalLine {
        int sequence = 0;
        std::string text;
        double receivedMs = 0;
        double answeredMs = -1;  // -1: no answer byte was written
        bool done = false;
    };
    void writeDoneLines();

    Scenario m_Scenario;
    FILE* m_Journal = nullptr;
    std::deque<JournalLine> m_Lines;
    int m_Sequence = 0;
    int m_Answered = 0;
    int m_AdapterPolls = 0;
    int m_ConnectPolls = 0;
    int m_AddressPolls = 0;
    std::map<std::string, std::string> m_Csr;  // friendly name -> CSR subject text
};

// Standard Base64 (with padding), as the certificate manager carries binary values.
std::string base64Encode(const Bytes& data);
// Decodes Base64, ignoring whitespace; false on any other non-alphabet byte.
bool base64Decode(const std::string& text, Bytes& out);
// JSON string literal (quotes included) of arbitrary bytes.
std::string jsonString(const std::string& bytes);

}  // namespace vprinter
