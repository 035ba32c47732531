// A SAX handler that writes every event as one line, for comparing event
// sequences in tests; it can ask the parser to stop after a chosen event.
#pragma once

#include <string>
#include <vector>

#include "SimpleSAXParser.h"

namespace qor::testing {

class RecordingHandler : public SimpleSAXHandler {
  public:
    // Sets m_Stop when the event line equal to `stopAfter` has been recorded.
    std::string stopAfter;
    std::vector<std::string> events;

    void startDocument() override { record("startDocument"); }
    void startElement(const char* name, const attributes& attrs) override {
        std::string line = std::string("start ") + name;
        char key[256];
        char value[256];
        // Index lookups walk the map, so huge attribute lists are only counted.
        if (attrs.count() > 32)
            line += " (" + std::to_string(attrs.count()) + " attributes)";
        for (int k = 0; k < attrs.count() && attrs.count() <= 32; ++k) {
            attrs.getName(k, key, sizeof key);
            attrs.getValue(k, value, sizeof value);
            line += std::string(" ") + key + "=" + value;
        }
        record(line);
    }
    void endElement(const char* name) override { record(std::string("end ") + name); }
    void characters(const char* text, int32_t count) override {
        record("chars [" + std::string(text) + "] " + std::to_string(count));
    }
    void endDocument() override { record("endDocument"); }

  private:
    void record(const std::string& line) {
        events.push_back(line);
        if (!stopAfter.empty() && line == stopAfter)
            m_Stop = true;
    }
};

}  // namespace qor::testing
