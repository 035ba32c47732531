#include "Printer.h"

#include <time.h>

#include <algorithm>
#include <stdexcept>

#include "CaName.h"

namespace vprinter {

namespace {

const uint8_t kCertPrefix[] = {0xE0, 0xC0, 0x03, 0x00, 0x01, 0x00, 0xE0};
const uint8_t kCertFiller = 0xE0;  // the class byte that opens every further answer packet
const char kCertObject[] = "applications.certMgr";

std::string hexByte(uint8_t value) {
    return toHex(qor::ByteSpan(&value, 1));
}

// The text between the first `open` and the next `close` after it.
bool between(const std::string& text, const std::string& open, const std::string& close,
             std::string& out, size_t from = 0) {
    size_t start = text.find(open, from);
    if (start == std::string::npos)
        return false;
    start += open.size();
    size_t end = text.find(close, start);
    if (end == std::string::npos)
        return false;
    out = text.substr(start, end - start);
    return true;
}

std::string xmlUnescape(const std::string& text) {
    static const std::pair<const char*, char> entities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& e : entities) {
                if (text.compare(i, std::char_traits<char>::length(e.first), e.first) == 0) {
                    out.push_back(e.second);
                    i += std::char_traits<char>::length(e.first);
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out.push_back(text[i++]);
    }
    return out;
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&apos;";
        else
            out.push_back(c);
    }
    return out;
}

// The value of <child name="NAME"><SomeElem>VALUE</SomeElem></child>, unescaped.
bool childValue(const std::string& xml, const std::string& name, std::string& out) {
    std::string inner;
    if (!between(xml, "<child name=\"" + name + "\">", "</child>", inner))
        return false;
    size_t open = inner.find('>');
    size_t close = inner.rfind("</");
    if (open == std::string::npos || close == std::string::npos || close < open) {
        out.clear();
        return true;
    }
    out = xmlUnescape(inner.substr(open + 1, close - open - 1));
    return true;
}

class ResponseBuilder {
  public:
    ResponseBuilder(int code, const std::string& message) {
        m_Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><MapElem>";
        add("status_code", "IntegerElem", std::to_string(code));
        string("status_mesg", message);
    }
    void string(const std::string& name, const std::string& value) {
        add(name, "StringElem", xmlEscape(value));
    }
    void binary(const std::string& name, const std::string& base64) {
        add(name, "BinaryElem", base64);
    }
    void list(const std::string& name, const std::vector<std::string>& values) {
        m_Xml += "<child name=\"" + name + "\"><ListElem>";
        for (const auto& v : values)
            m_Xml += "<StringElem>" + xmlEscape(v) + "</StringElem>";
        m_Xml += "</ListElem></child>";
    }
    std::string finish() { return m_Xml + "</MapElem></response>"; }

  private:
    void add(const std::string& name, const std::string& type, const std::string& value) {
        m_Xml += "<child name=\"" + name + "\"><" + type + ">" + value + "</" + type + "></child>";
    }
    std::string m_Xml;
};

}  // namespace

// What a request turned out to be, after unwrapping a forward.
struct Printer::Decoded {
    std::string kind = "unknown";
    bool forwarded = false;
    bool valid = false;
    uint8_t command = 0;
    int group = -1;
    int item = -1;
    std::vector<SettingRecord> records;
    bool recordsComplete = true;
    std::string method;
    std::string xml;
    Request inner;  // the request the answer is for (the inner one when forwarded)
};

Printer::Printer(Scenario scenario) : m_Scenario(std::move(scenario)) {}

bool Printer::decode(const Request& request, Decoded& out, bool forwarded) {
    out.forwarded = forwarded;
    out.command = request.command;
    if (request.flags == kPreambleFlags) {
        out.kind = "preamble";
        return false;
    }
    if (request.cls != kClass)
        return false;
    qor::ByteReader params(request.params);
    switch (request.command) {
        case kRead: {
            uint8_t zero = 0, group = 0, item = 0;
            if (!params.readU8(zero) || !params.readU8(group) || !params.readU8(item))
                return false;
            out.kind = "read";
            out.group = group;
            out.item = item;
            // The wireless support question of the forwarding kind is a read of 28 01.
            if (forwarded && group == 0x28 && item == 0x01)
                out.kind = "support";
            return params.atEnd();
        }
        case kWrite: {
            uint8_t one = 0;
            if (!params.readU8(one))
                return false;
            out.kind = "write";
            out.records = parseRecords(params.rest(), out.recordsComplete);
            if (!out.records.empty()) {
                out.group = out.records[0].group;
                out.item = out.records[0].item;
            }
            return one == 0x01 && out.recordsComplete;
        }
        case kSupport:
            if (forwarded)
                return false;
            out.kind = "support";
            return params.remaining() == 4;
        case kCertMgr: {
            qor::ByteSpan selector;
            if (forwarded || !params.readBytes(3, selector))
                return false;
            out.kind = "certmgr";
            out.xml = params.rest().toString();
            std::string method;
            between(out.xml, "<arg name=\"method\">", "</arg>", method);
            out.method = method;
            return selector.toVector() == Bytes{0x03, 0x00, 0x01};
        }
        case kForward: {
            if (forwarded)
                return false;  // no forwards inside forwards
            uint8_t channel = 0;
            uint16_t length = 0;
            qor::ByteSpan innerBytes;
            if (!params.readU8(channel) || !params.readBE16(length) ||
                !params.readBytes(length, innerBytes) || !params.atEnd() ||
                channel != kForwardChannel)
                return false;
            out.inner = Request{};
            if (!parseRequest(innerBytes.toVector(), out.inner))
                return false;
            Decoded inner;
            bool ok = decode(out.inner, inner, true);
            inner.inner = out.inner;
            out = inner;
            return ok;
        }
        default:
            return false;
    }
}

Bytes Printer::answerRead(uint8_t group, uint8_t item, std::vector<Bytes>& extra) {
    auto key = settingKey(group, item);
    if (key == settingKey(0x28, 0x39)) {
        const std::string& text = m_Scenario.kind == PrinterKind::Forward ? m_Scenario.surveyForward
                                                                          : m_Scenario.surveyDirect;
        Bytes data(text.begin(), text.end());
        size_t pieces = m_Scenario.kind == PrinterKind::Forward ? m_Scenario.surveyPackets : 1;
        size_t size = (data.size() + pieces - 1) / std::max<size_t>(pieces, 1);
        if (size == 0 || pieces == 1)
            return data;
        // Later pieces travel in packets of their own: flags, class, text.
        for (size_t at = size; at < data.size(); at += size) {
            size_t end = std::min(data.size(), at + size);
            extra.emplace_back(data.begin() + at, data.begin() + end);
        }
        data.resize(size);
        return data;
    }
    if (key == settingKey(0x06, 0x1F)) {
        bool ready = m_Scenario.adapterAfter >= 0 && m_AdapterPolls >= m_Scenario.adapterAfter;
        ++m_AdapterPolls;
        return {ready ? m_Scenario.adapterReady : m_Scenario.adapterBusy};
    }
    if (key == settingKey(0x28, 0x15)) {
        bool up = m_Scenario.connectAfter >= 0 && m_ConnectPolls >= m_Scenario.connectAfter;
        ++m_ConnectPolls;
        return {0, 0, 0, up ? uint8_t{0} : m_Scenario.notConnectedState};
    }
    if (key == settingKey(0x0A, 0x02)) {
        bool assigned = m_Scenario.ipAfter >= 0 && m_AddressPolls >= m_Scenario.ipAfter;
        ++m_AddressPolls;
        if (!assigned)
            return {0, 0, 0, 0};
    }
    auto found = m_Scenario.settings.find(key);
    if (found == m_Scenario.settings.end())
        throw std::out_of_range("setting");
    return found->second;
}

std::string Printer::answerCertCall(const std::string& xml, std::string& method) {
    std::string object;
    between(xml, "<arg name=\"objName\">", "</arg>", object);
    if (object != kCertObject)
        return ResponseBuilder(4, "Unknown object").finish();
    auto forced = m_Scenario.certStatus.find(method);
    if (forced != m_Scenario.certStatus.end())
        return ResponseBuilder(forced->second.first, forced->second.second).finish();

    std::string name;
    if (method == "readCertDefaults") {
        ResponseBuilder r(1, "OK");
        for (const char* field : {"O", "OU", "C", "ST", "L", "CN", "AN"})
            r.string(std::string("x509_") + field, m_Scenario.certDefaults[field]);
        return r.finish();
    }
    if (method == "queryCAList" || method == "queryCertList") {
        std::vector<std::string> names;
        if (method == "queryCAList")
            for (const auto& ca : m_Scenario.cas)
                names.push_back(ca.commonName);
        else
            names = m_Scenario.certs;
        ResponseBuilder r(1, "OK");
        r.list("cert_list", names);
        return r.finish();
    }
    if (method == "queryCAInfo" || method == "deleteIndividualCA") {
        if (!childValue(xml, "ca_common_name", name))
            return ResponseBuilder(3, "Missing ca_common_name").finish();
        auto ca = std::find_if(m_Scenario.cas.begin(), m_Scenario.cas.end(),
                               [&](const CaEntry& e) { return e.commonName == name; });
        if (ca == m_Scenario.cas.end())
            return ResponseBuilder(2, "CA not found").finish();
        ResponseBuilder r(1, "OK");
        if (method == "queryCAInfo") {
            r.string("ca_file_name", ca->fileName);
            r.string("ca_dot_pem_path", ca->pemPath);
            r.string("ca_common_name", ca->commonName);
        } else {
            m_Scenario.cas.erase(ca);
        }
        return r.finish();
    }
    if (method == "deleteIndividualCert") {
        if (!childValue(xml, "cert_friendly_name", name))
            return ResponseBuilder(3, "Missing cert_friendly_name").finish();
        auto cert = std::find(m_Scenario.certs.begin(), m_Scenario.certs.end(), name);
        if (cert == m_Scenario.certs.end())
            return ResponseBuilder(2, "Certificate not found").finish();
        m_Scenario.certs.erase(cert);
        m_Csr.erase(name);
        return ResponseBuilder(1, "OK").finish();
    }
    if (method == "uploadNewCAFile" || method == "uploadSignedCertFile") {
        bool ca = method == "uploadNewCAFile";
        std::string size, file;
        if (!childValue(xml, ca ? "ca_file_name" : "cert_friendly_name", name) ||
            !childValue(xml, ca ? "ca_dot_pem_size" : "cert_syst_dot_pem_size", size) ||
            !childValue(xml, ca ? "ca_dot_pem_file" : "cert_syst_dot_pem_file", file))
            return ResponseBuilder(3, "Missing parameter").finish();
        Bytes content;
        if (!base64Decode(file, content))
            return ResponseBuilder(3, "Bad Base64 data").finish();
        if (std::to_string(content.size()) != size)
            return ResponseBuilder(3, "Size does not match the data").finish();
        if (ca) {
            // Listed under the name derived from the certificate, not the file name.
            std::string listed, why;
            if (!caListName(content, listed, why))
                return ResponseBuilder(3, why).finish();
            CaEntry entry{listed, name, "/certs/ca/" + name};
            auto old = std::find_if(m_Scenario.cas.begin(), m_Scenario.cas.end(),
                                    [&](const CaEntry& e) { return e.commonName == listed; });
            if (old != m_Scenario.cas.end())
                m_Scenario.cas.erase(old);
            m_Scenario.cas.push_back(entry);
        } else {
            if (!isPemCertificate(content))
                return ResponseBuilder(3, "Not a PEM certificate").finish();
            if (std::find(m_Scenario.certs.begin(), m_Scenario.certs.end(), name) ==
                m_Scenario.certs.end())
                m_Scenario.certs.push_back(name);
        }
        return ResponseBuilder(1, "OK").finish();
    }
    if (method == "generateNewCert") {
        if (!childValue(xml, "cert_friendly_name", name))
            return ResponseBuilder(3, "Missing cert_friendly_name").finish();
        std::string subject;
        for (const char* field : {"C", "ST", "L", "O", "OU", "CN"}) {
            std::string value;
            childValue(xml, std::string("x509_") + field, value);
            subject += std::string("/") + field + "=" + value;
        }
        m_Csr[name] = subject;
        return ResponseBuilder(1, "OK").finish();
    }
    if (method == "exportPubKey") {
        if (!childValue(xml, "cert_friendly_name", name))
            return ResponseBuilder(3, "Missing cert_friendly_name").finish();
        auto csr = m_Csr.find(name);
        if (csr == m_Csr.end())
            return ResponseBuilder(2, "No certificate request").finish();
        std::string body = base64Encode(Bytes(csr->second.begin(), csr->second.end()));
        std::string pem = "-----BEGIN CERTIFICATE REQUEST-----\n" + body +
                          "\n-----END CERTIFICATE REQUEST-----\n";
        ResponseBuilder r(1, "OK");
        r.binary("cert_dot_csr_file", base64Encode(Bytes(pem.begin(), pem.end())));
        return r.finish();
    }
    return ResponseBuilder(5, "Unknown method").finish();
}

double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

Handled Printer::handle(const Bytes& packet, double receivedMs) {
    Handled result;
    result.sequence = ++m_Sequence;
    Request request;
    Decoded what;
    bool parsed = parseRequest(packet, request);
    bool valid = parsed && decode(request, what, false);
    result.kind = what.kind;
    result.forwarded = what.forwarded;
    if (what.inner.raw.empty())
        what.inner = request;

    Bytes stream;
    std::string note;
    bool mine =
        what.kind == "certmgr" || (what.forwarded == (m_Scenario.kind == PrinterKind::Forward));
    bool stopped = m_Scenario.stopAfter >= 0 && m_Answered >= m_Scenario.stopAfter;
    if (!valid) {
        note = what.kind == "preamble" ? "" : "not understood";
    } else if (!mine && m_Scenario.foreignError && !stopped) {
        // Refused like an unknown command: an error answer echoing the request's head.
        Bytes body{0xD4};
        Bytes head = what.forwarded ? Bytes{kClass, kForward, kForwardChannel, 0x00, 0x00}
                                    : qor::ByteSpan(request.raw).from(4).first(5).toVector();
        body.insert(body.end(), head.begin(), head.end());
        result.answered = true;
        result.output.push_back({framePacket(body), 0});
        note = "refused by this kind of printer";
    } else if (!mine) {
        note = "not answered by this kind of printer";
    } else if (stopped) {
        note = "stopped answering";
    } else {
        std::vector<Bytes> packets;  // whole answer packets, in order
        try {
            if (what.kind == "read" || what.kind == "support") {
                if (what.command == kSupport) {
                    qor::ByteWriter body;
                    body.writeU8(kRequestFlags);
                    body.writeU8(kClass);
                    body.writeU8(kSupport);
                    body.writeBytes(what.inner.params);
                    body.writeU8(0x00);
                    body.writeU8(m_Scenario.supportByte);
                    packets.push_back(body.take());
                } else {
                    std::vector<Bytes> extra;
                    Bytes data = answerRead(static_cast<uint8_t>(what.group),
                                            static_cast<uint8_t>(what.item), extra);
                    qor::ByteWriter body;
                    body.writeU8(extra.empty() ? kRequestFlags : (kRequestFlags | kMoreFlag));
                    body.writeBytes(qor::ByteSpan(what.inner.raw).from(4).first(5));
                    body.writeBE16(static_cast<uint16_t>(std::min<size_t>(data.size(), 0xFFF0)));
                    body.writeBytes(qor::ByteSpan(data).first(0xFFF0));
                    packets.push_back(body.take());
                    for (size_t i = 0; i < extra.size(); ++i) {
                        qor::ByteWriter more;
                        more.writeU8(i + 1 < extra.size() ? (kRequestFlags | kMoreFlag)
                                                          : kRequestFlags);
                        more.writeU8(kClass);
                        more.writeBytes(qor::ByteSpan(extra[i]).first(0xFFF0));
                        packets.push_back(more.take());
                    }
                }
            } else if (what.kind == "write") {
                for (const auto& record : what.records) {
                    if (record.group == 0x06 && record.item == 0x14) {
                        // A reset brings the adapter and the connection back down.
                        m_AdapterPolls = m_ConnectPolls = m_AddressPolls = 0;
                    } else {
                        m_Scenario.settings[settingKey(record.group, record.item)] = record.value;
                    }
                }
                packets.push_back({kRequestFlags, kClass, kWrite, m_Scenario.writeStatus});
            } else if (what.kind == "certmgr") {
                std::string xml = answerCertCall(what.xml, what.method);
                size_t chunk = std::max<size_t>(m_Scenario.certChunk, 1);
                size_t at = 0;
                do {
                    size_t n = std::min(chunk, xml.size() - at);
                    bool last = at + n >= xml.size();
                    qor::ByteWriter body;
                    body.writeU8(last ? kRequestFlags : (kRequestFlags | kMoreFlag));
                    if (at == 0)
                        body.writeBytes(kCertPrefix, sizeof kCertPrefix);
                    else
                        body.writeU8(kCertFiller);
                    body.writeBytes(xml.data() + at, n);
                    packets.push_back(body.take());
                    at += n;
                } while (at < xml.size());
            }
        } catch (const std::out_of_range&) {
            // A setting this printer does not have: an error answer.
            packets.clear();
            Bytes body{0xD4};
            qor::ByteSpan echo = qor::ByteSpan(what.inner.raw).from(4).first(5);
            body.insert(body.end(), echo.begin(), echo.end());
            packets.push_back(body);
            note = "no such setting";
        }
        for (size_t index = 0; index < packets.size(); ++index) {
            const Bytes& body = packets[index];
            Bytes framed = framePacket(body);
            // Only the first answer packet is wrapped; continuation packets of a
            // forwarded survey travel bare (flags, class, text).
            if (what.forwarded && index == 0) {
                // The forwarded form: flags, class, 63, channel, 00, inner length, inner packet.
                qor::ByteWriter outer;
                outer.writeU8(body.empty() ? kRequestFlags : body[0]);
                outer.writeU8(kClass);
                outer.writeU8(kForward);
                outer.writeU8(kForwardChannel);
                outer.writeU8(0x00);
                outer.writeBE16(static_cast<uint16_t>(framed.size()));
                outer.writeBytes(qor::ByteSpan(framed));
                framed = framePacket(outer.take());
            }
            stream.insert(stream.end(), framed.begin(), framed.end());
        }
        ++m_Answered;
        applyFaults(what, stream, result, note);
    }
    journal(what, request, result, note, receivedMs);
    return result;
}

void Printer::applyFaults(const Decoded& what, Bytes& stream, Handled& result, std::string& note) {
    int delay = 0, split = -1;
    bool silent = false;
    for (auto& rule : m_Scenario.faults) {
        const FaultSelector& s = rule.selector;
        if (rule.times == 0)
            continue;
        if (s.sequence > 0 && s.sequence != result.sequence)
            continue;
        if (s.kind != "any" && s.kind != what.kind)
            continue;
        if (s.forwarded >= 0 && s.forwarded != (what.forwarded ? 1 : 0))
            continue;
        if (!s.method.empty() && s.method != what.method)
            continue;
        if (s.group >= 0) {
            bool hit = what.kind == "read" ? (what.group == s.group && what.item == s.item) : false;
            for (const auto& r : what.records)
                hit = hit || (r.group == s.group && r.item == s.item);
            if (!hit)
                continue;
        }
        if (rule.times > 0)
            --rule.times;
        switch (rule.action) {
            case FaultAction::Silent:
                silent = true;
                note += note.empty() ? "silent" : ",silent";
                break;
            case FaultAction::Error: {
                Bytes body{static_cast<uint8_t>(rule.value)};
                // Echo class, command and parameters of the request as sent.
                Bytes head = what.forwarded
                                 ? Bytes{kClass, kForward, kForwardChannel, 0x00, 0x00}
                                 : qor::ByteSpan(what.inner.raw).from(4).first(5).toVector();
                body.insert(body.end(), head.begin(), head.end());
                stream = framePacket(body);
                note += std::string(note.empty() ? "" : ",") + "error " +
                        hexByte(static_cast<uint8_t>(rule.value));
                break;
            }
            case FaultAction::Truncate:
                if (stream.size() > static_cast<size_t>(rule.value))
                    stream.resize(rule.value);
                note += std::string(note.empty() ? "" : ",") + "truncate";
                break;
            case FaultAction::Garble:
                for (size_t i = 0; i < stream.size(); ++i)
                    stream[i] = i == 0
                                    ? static_cast<uint8_t>(stream[i] ^ 0xFF)
                                    : (i >= 3 ? static_cast<uint8_t>(stream[i] ^ 0x55) : stream[i]);
                note += std::string(note.empty() ? "" : ",") + "garble";
                break;
            case FaultAction::Garbage:
                stream.insert(stream.begin(), rule.bytes.begin(), rule.bytes.end());
                note += std::string(note.empty() ? "" : ",") + "garbage";
                break;
            case FaultAction::Split:
                split = rule.value;
                note += std::string(note.empty() ? "" : ",") + "split";
                break;
            case FaultAction::Delay:
                delay += rule.value;
                note += std::string(note.empty() ? "" : ",") + "delay";
                break;
        }
    }
    if (silent || stream.empty())
        return;
    result.answered = true;
    if (split >= 0) {
        for (size_t i = 0; i < stream.size(); ++i)
            result.output.push_back({Bytes{stream[i]}, i == 0 ? delay : split});
    } else {
        result.output.push_back({stream, delay});
    }
}

void Printer::noteStray(const Bytes& bytes, const char* why, double atMs) {
    if (!m_Journal || bytes.empty())
        return;
    int sequence = ++m_Sequence;
    std::string line = "{\"seq\":" + std::to_string(sequence) +
                       ",\"kind\":\"unknown\",\"forwarded\":false,\"hex\":\"" + toHex(bytes) +
                       "\",\"answered\":false,\"note\":" + jsonString(why);
    m_Lines.push_back({sequence, std::move(line), atMs, -1, true});
    writeDoneLines();
}

void Printer::answerSent(int sequence, double atMs) {
    for (JournalLine& line : m_Lines) {
        if (line.sequence == sequence && !line.done) {
            line.answeredMs = atMs;
            line.done = true;
        }
    }
    writeDoneLines();
}

void Printer::answersDropped() {
    for (JournalLine& line : m_Lines)
        line.done = true;
    writeDoneLines();
}

void Printer::writeDoneLines() {
    if (!m_Journal)
        return;
    while (!m_Lines.empty() && m_Lines.front().done) {
        const JournalLine& line = m_Lines.front();
        char times[96];
        if (line.answeredMs >= 0)
            std::snprintf(times, sizeof times, ",\"received_ms\":%.3f,\"answered_ms\":%.3f}\n",
                          line.receivedMs, line.answeredMs);
        else
            std::snprintf(times, sizeof times, ",\"received_ms\":%.3f,\"answered_ms\":null}\n",
                          line.receivedMs);
        std::fputs(line.text.c_str(), m_Journal);
        std::fputs(times, m_Journal);
        m_Lines.pop_front();
    }
    std::fflush(m_Journal);
}

void Printer::journal(const Decoded& what, const Request& request, const Handled& result,
                      const std::string& note, double receivedMs) {
    if (!m_Journal)
        return;
    std::string line = "{\"seq\":" + std::to_string(result.sequence) + ",\"kind\":\"" + what.kind +
                       "\",\"forwarded\":" + (what.forwarded ? "true" : "false");
    if (!request.raw.empty() && request.raw.size() >= 6)
        line += ",\"command\":\"" + hexByte(what.command) + "\"";
    if (what.group >= 0 && what.kind != "write") {
        line += ",\"group\":\"" + hexByte(static_cast<uint8_t>(what.group)) + "\",\"item\":\"" +
                hexByte(static_cast<uint8_t>(what.item)) + "\"";
    }
    line += ",\"hex\":\"" + toHex(request.raw) + "\"";
    if (what.kind == "write") {
        line += ",\"records\":[";
        for (size_t i = 0; i < what.records.size(); ++i) {
            const auto& r = what.records[i];
            if (i)
                line += ",";
            line += "{\"group\":\"" + hexByte(r.group) + "\",\"item\":\"" + hexByte(r.item) +
                    "\",\"value_hex\":\"" + toHex(r.value) +
                    "\",\"value_text\":" + jsonString(std::string(r.value.begin(), r.value.end())) +
                    "}";
        }
        line += "]";
        if (!what.recordsComplete)
            line += ",\"records_complete\":false";
    }
    if (what.kind == "certmgr") {
        line += ",\"method\":" + jsonString(what.method) + ",\"xml\":" + jsonString(what.xml);
    }
    line += std::string(",\"answered\":") + (result.answered ? "true" : "false");
    if (!note.empty())
        line += ",\"note\":" + jsonString(note);
    m_Lines.push_back({result.sequence, std::move(line), receivedMs, -1, !result.answered});
    writeDoneLines();
}

std::string base64Encode(const Bytes& data) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        uint32_t v = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2];
        for (int s = 18; s >= 0; s -= 6)
            out.push_back(alphabet[(v >> s) & 63]);
    }
    size_t left = data.size() - i;
    if (left) {
        uint32_t v = uint32_t{data[i]} << 16 | (left == 2 ? uint32_t{data[i + 1]} << 8 : 0);
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(left == 2 ? alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

bool base64Decode(const std::string& text, Bytes& out) {
    out.clear();
    uint32_t acc = 0;
    int bits = 0;
    bool padding = false;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            padding = true;
            continue;
        } else if (c == '\n' || c == '\r' || c == ' ' || c == '\t')
            continue;
        else
            return false;
        if (padding)
            return false;  // data after padding
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    return true;
}

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"')
            out += "\\\"";
        else if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            // Bytes are shown one by one (as Latin-1), so the line stays valid JSON.
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", c);
            out += hex;
        } else
            out.push_back(static_cast<char>(c));
    }
    return out + "\"";
}

}  // namespace vprinter
