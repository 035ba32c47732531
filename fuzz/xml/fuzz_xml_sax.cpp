// Feeds arbitrary bytes to the SAX parser and checks that its events are
// consistent: every end matches the innermost open start, nothing but
// endDocument follows a stop request, and the document events bracket all.
// The same text is parsed three ways more, whose outcomes must agree: by a
// handler that takes the NUL-terminated copies instead of the views, by a
// handler that mutes where the first one stopped (same events, but the
// parse runs on as one without a handler does), and without a handler.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SimpleSAXParser.h"

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

class CheckingHandler : public qor::SimpleSAXHandler {
  public:
    CheckingHandler(uint8_t stopAt, bool mute) : m_StopAt(stopAt), m_MuteInstead(mute) {}

    void startDocument() override {
        check(!m_Started);
        m_Started = true;
        event();
    }
    void startElementView(std::string_view name, const qor::attributes& attrs) override {
        check(m_Started && !m_Ended && !m_Stop && !m_Mute);
        check(!name.empty() && name.find('\0') == std::string_view::npos);
        check(attrs.count() >= 0);
        char buffer[8];
        for (int k = 0; k < attrs.count() && k < 4; ++k)
            check(attrs.getName(k, buffer, sizeof buffer) < static_cast<int>(sizeof buffer));
        m_Open.emplace_back(name);
        log("s", name);
        event();
    }
    void endElementView(std::string_view name) override {
        // A stop requested in the start of an empty-element tag still gets
        // its end.
        check(m_Started && !m_Ended);
        check(!m_Open.empty() && m_Open.back() == name);
        m_Open.pop_back();
        log("e", name);
        event();
    }
    void charactersView(std::string_view text, int32_t count) override {
        check(m_Started && !m_Ended && !m_Stop && !m_Mute);
        check(!m_Open.empty());
        check(count > 0);
        check(text.size() <= static_cast<size_t>(count));
        check(text.find('\0') == std::string_view::npos);
        log("c", text);
        event();
    }
    void endDocument() override {
        check(m_Started && !m_Ended);
        m_Ended = true;
    }

    bool ended() const { return m_Ended; }
    size_t events() const { return m_Count; }
    const std::string& trace() const { return m_Trace; }

  protected:
    void log(const char* kind, std::string_view text) {
        m_Trace += kind;
        m_Trace += std::to_string(text.size());
        m_Trace += ':';
        m_Trace.append(text.data(), text.size());
    }

  private:
    void event() {
        ++m_Count;
        if (m_StopAt != 0 && ++m_Events == m_StopAt)
            (m_MuteInstead ? m_Mute : m_Stop) = true;
    }

    uint8_t m_StopAt;
    bool m_MuteInstead;
    unsigned m_Events = 0;
    size_t m_Count = 0;
    bool m_Started = false;
    bool m_Ended = false;
    std::vector<std::string> m_Open;
    std::string m_Trace;
};

// The same records from the NUL-terminated operations, which the default
// view operations call.
class CopyHandler : public qor::SimpleSAXHandler {
  public:
    void startElement(const char* name, const qor::attributes&) override { log("s", name); }
    void endElement(const char* name) override { log("e", name); }
    void characters(const char* text, int32_t) override { log("c", text); }
    std::string trace;

  private:
    void log(const char* kind, const char* text) {
        trace += kind;
        trace += std::to_string(std::strlen(text));
        trace += ':';
        trace += text;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // First byte: after how many events the handler asks to stop (0: never).
    uint8_t stopAt = data[0];
    // An exact-size NUL-terminated copy, so that reading one byte past the
    // text is caught.
    std::unique_ptr<char[]> text(new char[size]);
    std::memcpy(text.get(), data + 1, size - 1);
    text[size - 1] = '\0';

    CheckingHandler handler(stopAt, false);
    qor::SimpleSAXParser parser(&handler);
    std::string report;
    int result = parser.parse(text.get(), report);
    check((result == 0 || result == -1) && handler.ended());
    // Every element or text event consumes input: the work is bounded by it.
    check(handler.events() <= size);

    qor::SimpleSAXParser silent(nullptr);
    std::string silentReport;
    int silentResult = silent.parse(text.get(), silentReport);
    if (stopAt == 0) {
        check(silentResult == result && silentReport == report);
        CopyHandler copies;
        std::string copyReport;
        check(qor::SimpleSAXParser(&copies).parse(text.get(), copyReport) == result);
        check(copies.trace == handler.trace() && copyReport == report);
    } else {
        CheckingHandler muted(stopAt, true);
        std::string mutedReport;
        int mutedResult = qor::SimpleSAXParser(&muted).parse(text.get(), mutedReport);
        check(muted.ended() && muted.trace() == handler.trace());
        check(mutedResult == silentResult && mutedReport == silentReport);
    }
    return 0;
}
