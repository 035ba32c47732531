// Feeds arbitrary bytes to the SAX parser and checks that its events are
// consistent: every end matches the innermost open start, nothing but
// endDocument follows a stop request, and the document events bracket all.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SimpleSAXParser.h"

namespace {

class CheckingHandler : public qor::SimpleSAXHandler {
  public:
    explicit CheckingHandler(uint8_t stopAt) : m_StopAt(stopAt) {}

    void startDocument() override {
        check(!m_Started);
        m_Started = true;
        event();
    }
    void startElement(const char* name, const qor::attributes& attrs) override {
        check(m_Started && !m_Ended && !m_Stop);
        check(name[0] != '\0');
        check(attrs.count() >= 0);
        char buffer[8];
        for (int k = 0; k < attrs.count() && k < 4; ++k)
            check(attrs.getName(k, buffer, sizeof buffer) < static_cast<int>(sizeof buffer));
        m_Open.push_back(name);
        event();
    }
    void endElement(const char* name) override {
        // A stop requested in the start of an empty-element tag still gets
        // its end.
        check(m_Started && !m_Ended);
        check(!m_Open.empty() && m_Open.back() == name);
        m_Open.pop_back();
        event();
    }
    void characters(const char* text, int32_t count) override {
        check(m_Started && !m_Ended && !m_Stop);
        check(!m_Open.empty());
        check(count > 0);
        check(std::strlen(text) <= static_cast<size_t>(count));
        event();
    }
    void endDocument() override {
        check(m_Started && !m_Ended);
        m_Ended = true;
    }

    bool ended() const { return m_Ended; }
    size_t events() const { return m_Count; }

  private:
    static void check(bool ok) {
        if (!ok)
            std::abort();
    }
    void event() {
        ++m_Count;
        if (m_StopAt != 0 && ++m_Events == m_StopAt)
            m_Stop = true;
    }

    uint8_t m_StopAt;
    unsigned m_Events = 0;
    size_t m_Count = 0;
    bool m_Started = false;
    bool m_Ended = false;
    std::vector<std::string> m_Open;
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

    CheckingHandler handler(stopAt);
    qor::SimpleSAXParser parser(&handler);
    int result = parser.parse(text.get());
    if ((result != 0 && result != -1) || !handler.ended())
        std::abort();
    // Every element or text event consumes input: the work is bounded by it.
    if (handler.events() > size)
        std::abort();
    qor::SimpleSAXParser silent(nullptr);
    if (stopAt == 0 && silent.parse(text.get()) != result)
        std::abort();
    return 0;
}
