// XML: our SAX parser and the certificate-list reads built on it, against
// expat (event parser) and pugixml (DOM with XPath) on the same answers.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSizes.h"
#include "ObjStoreResponse.h"
#include "SimpleSAXParser.h"

#ifdef QOR_BENCH_EXPAT
#include <expat.h>
#endif
#ifdef QOR_BENCH_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

// Names as the printer lists its CAs and certificates: common name and the
// validity tag, some with an entity in them.
std::string certName(qorbench::Lcg& random) {
    static const char* const kNames[] = {"PrinterCA",       "Corp Root CA",
                                         "R&amp;D Issuing", "AirJoinHelperTool",
                                         "Branch-Office-7", "wifi.example.com"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[160];
    unsigned day1 = 1 + random.below(28), day2 = 1 + random.below(28);
    unsigned year = 2010 + random.below(10);
    snprintf(text, sizeof text, "%s_%s_%s%u_%u_To_%s_%s%u_%u", kNames[random.below(6)],
             kMonths[random.below(12)], day1 < 10 ? "_" : "", day1, year, kMonths[random.below(12)],
             day2 < 10 ? "_" : "", day2, year + 2);
    return text;
}

// A queryCertList answer of about `bytes` bytes: status, message and a
// cert_list long enough to fill the size.
struct Answer {
    std::string text;
    size_t entries = 0;
};

const std::vector<Answer>& answersOf(size_t bytes) {
    static std::map<size_t, std::vector<Answer>> cache;
    auto found = cache.find(bytes);
    if (found != cache.end())
        return found->second;
    static const char kHead[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response>\n<MapElem>\n"
        "<child name=\"status_code\"><IntegerElem>1</IntegerElem></child>\n"
        "<child name=\"status_mesg\"><StringElem>Success</StringElem></child>\n"
        "<child name=\"cert_list\"><ListElem>\n";
    static const char kTail[] = "</ListElem></child>\n</MapElem>\n</response>\n";
    std::vector<Answer> answers(qorbench::poolCount(bytes));
    qorbench::Lcg random(static_cast<uint32_t>(bytes));
    for (Answer& answer : answers) {
        answer.text = kHead;
        for (;;) {
            std::string entry = "<StringElem>" + certName(random) + "</StringElem>\n";
            if (answer.entries > 0 &&
                answer.text.size() + entry.size() + sizeof kTail - 1 > bytes) {
                break;
            }
            answer.text += entry;
            ++answer.entries;
        }
        answer.text += kTail;
    }
    return cache.emplace(bytes, std::move(answers)).first->second;
}

// What a certificate-list read yields: the status code and up to nine names.
struct ListResult {
    int status = 0;
    std::vector<std::string> names;
    bool operator==(const ListResult& o) const { return status == o.status && names == o.names; }
};

// --- plain parse: every event delivered, counted -------------------------

// It takes the events as views, as expat hands out pointer and length.
class CountingHandler : public qor::SimpleSAXHandler {
  public:
    void startElementView(std::string_view, const qor::attributes& attrs) override {
        ++elements;
        attributeCount += static_cast<size_t>(attrs.count());
    }
    void charactersView(std::string_view text, int32_t) override { textBytes += text.size(); }
    size_t elements = 0;
    size_t attributeCount = 0;
    size_t textBytes = 0;
};

size_t oursCountElements(const std::string& text) {
    CountingHandler handler;
    qor::SimpleSAXParser parser(&handler);
    if (parser.parse(text) != 0)
        return 0;
    return handler.elements;
}

#ifdef QOR_BENCH_EXPAT
struct ExpatCount {
    size_t elements = 0;
    size_t attributeCount = 0;
    size_t textBytes = 0;
};

size_t expatCountElements(const std::string& text) {
    ExpatCount count;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &count);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char*, const XML_Char** attrs) {
            auto* c = static_cast<ExpatCount*>(data);
            ++c->elements;
            for (; *attrs; attrs += 2)
                ++c->attributeCount;
        },
        [](void*, const XML_Char*) {});
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char*, int length) {
        static_cast<ExpatCount*>(data)->textBytes += static_cast<size_t>(length);
    });
    bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok ? count.elements : 0;
}
#endif

#ifdef QOR_BENCH_PUGIXML
size_t countNodes(const pugi::xml_node& node) {
    size_t n = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element)
            n += 1 + countNodes(child);
    }
    return n;
}

size_t pugixmlCountElements(const std::string& text) {
    pugi::xml_document document;
    if (!document.load_buffer(text.data(), text.size()))
        return 0;
    return countNodes(document);
}
#endif

// --- certificate-list read -----------------------------------------------

// As the certificate command does it: the status code, then the name list.
ListResult oursReadList(const std::string& text) {
    qor::ObjStoreResponse response;
    response.setResponse(text);
    ListResult result;
    result.status = response.getStatusCode();
    if (result.status == 1)
        response.getNameList(result.names);
    return result;
}

#ifdef QOR_BENCH_EXPAT
// One pass that follows the same paths: child[@name='status_code']/IntegerElem
// and the first nine consecutive StringElem of child[@name='cert_list']/ListElem.
struct ExpatList {
    int depth = 0;
    std::string child;  // name attribute of the open <child>
    bool inStatus = false;
    bool inEntry = false;
    std::string status;
    std::string entry;
    int position = 0;
    std::vector<std::string> entries;
};

ListResult expatReadList(const std::string& text) {
    ExpatList state;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char** attrs) {
            auto* s = static_cast<ExpatList*>(data);
            ++s->depth;
            if (s->depth == 3 && strcmp(name, "child") == 0) {
                s->child.clear();
                for (; *attrs; attrs += 2) {
                    if (strcmp(attrs[0], "name") == 0)
                        s->child = attrs[1];
                }
            } else if (s->depth == 4 && s->child == "status_code" &&
                       strcmp(name, "IntegerElem") == 0) {
                s->inStatus = true;
            } else if (s->depth == 5 && s->child == "cert_list" &&
                       strcmp(name, "StringElem") == 0) {
                s->inEntry = ++s->position <= 9;
                s->entry.clear();
            }
        },
        [](void* data, const XML_Char*) {
            auto* s = static_cast<ExpatList*>(data);
            if (s->inEntry)
                s->entries.push_back(s->entry);
            s->inEntry = s->inStatus = false;
            --s->depth;
        });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
        auto* s = static_cast<ExpatList*>(data);
        if (s->inStatus)
            s->status.append(text, static_cast<size_t>(length));
        else if (s->inEntry)
            s->entry.append(text, static_cast<size_t>(length));
    });
    XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1);
    XML_ParserFree(parser);
    ListResult result;
    result.status = atoi(state.status.c_str());
    if (state.status == "1") {
        for (const std::string& name : state.entries) {
            if (name.empty())
                break;
            result.names.push_back(name);
        }
    }
    return result;
}
#endif

#ifdef QOR_BENCH_PUGIXML
ListResult pugixmlReadList(const std::string& text) {
    static const pugi::xpath_query status(
        "/response/MapElem/child[@name='status_code']/IntegerElem");
    static const std::vector<pugi::xpath_query> entries = [] {
        std::vector<pugi::xpath_query> queries;
        for (int n = 1; n <= 9; ++n) {
            char path[128];
            snprintf(path, sizeof path,
                     "/response/MapElem/child[@name='cert_list']/ListElem/StringElem[%d]", n);
            queries.emplace_back(path);
        }
        return queries;
    }();
    pugi::xml_document document;
    ListResult result;
    if (!document.load_buffer(text.data(), text.size()))
        return result;
    std::string code = status.evaluate_node(document).node().child_value();
    result.status = atoi(code.c_str());
    if (code != "1")
        return result;
    for (const pugi::xpath_query& query : entries) {
        std::string name = query.evaluate_node(document).node().child_value();
        if (name.empty())
            break;
        result.names.push_back(name);
    }
    return result;
}
#endif

// --- runners --------------------------------------------------------------

using Counter = size_t (*)(const std::string&);
using Reader = ListResult (*)(const std::string&);

// Each runner first checks every input against our own parser's result, so
// the peers do the same work, then cycles through the inputs.
void runParse(benchmark::State& state, Counter count) {
    const std::vector<Answer>& answers = answersOf(static_cast<size_t>(state.range(0)));
    for (const Answer& answer : answers) {
        size_t expected = oursCountElements(answer.text);
        if (expected != answer.entries + 8 || count(answer.text) != expected) {
            state.SkipWithError("element count mismatch between parsers");
            return;
        }
    }
    size_t next = 0, bytes = 0;
    for (auto _ : state) {
        const Answer& answer = answers[next];
        next = next + 1 == answers.size() ? 0 : next + 1;
        bytes += answer.text.size();
        benchmark::DoNotOptimize(count(answer.text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["input_bytes"] = static_cast<double>(answers[0].text.size());
}

void runRead(benchmark::State& state, Reader read) {
    const std::vector<Answer>& answers = answersOf(static_cast<size_t>(state.range(0)));
    for (const Answer& answer : answers) {
        ListResult expected = oursReadList(answer.text);
        size_t names = answer.entries < 9 ? answer.entries : 9;
        if (expected.status != 1 || expected.names.size() != names ||
            !(read(answer.text) == expected)) {
            state.SkipWithError("certificate list mismatch between readers");
            return;
        }
    }
    size_t next = 0, bytes = 0;
    for (auto _ : state) {
        const Answer& answer = answers[next];
        next = next + 1 == answers.size() ? 0 : next + 1;
        bytes += answer.text.size();
        ListResult result = read(answer.text);
        benchmark::DoNotOptimize(result.names.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["input_bytes"] = static_cast<double>(answers[0].text.size());
}

void SaxParse_ours(benchmark::State& state) {
    runParse(state, oursCountElements);
}
BENCHMARK(SaxParse_ours)->Apply(qorbench::inputSizes);

void CertListRead_ours(benchmark::State& state) {
    runRead(state, oursReadList);
}
BENCHMARK(CertListRead_ours)->Apply(qorbench::inputSizes);

#ifdef QOR_BENCH_EXPAT
void SaxParse_expat(benchmark::State& state) {
    runParse(state, expatCountElements);
}
BENCHMARK(SaxParse_expat)->Apply(qorbench::inputSizes);

void CertListRead_expat(benchmark::State& state) {
    runRead(state, expatReadList);
}
BENCHMARK(CertListRead_expat)->Apply(qorbench::inputSizes);
#endif

#ifdef QOR_BENCH_PUGIXML
void SaxParse_pugixml(benchmark::State& state) {
    runParse(state, pugixmlCountElements);
}
BENCHMARK(SaxParse_pugixml)->Apply(qorbench::inputSizes);

void CertListRead_pugixml(benchmark::State& state) {
    runRead(state, pugixmlReadList);
}
BENCHMARK(CertListRead_pugixml)->Apply(qorbench::inputSizes);
#endif

}  // namespace

BENCHMARK_MAIN();
