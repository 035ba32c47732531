// Evaluates fuzzed paths over a fuzzed document: the input is the paths,
// each ended by a NUL byte, then the document (the text after the last
// NUL). The same query must give the same answer twice, a compiled path
// never has more steps than the path has '/', and a pass over all paths at
// once answers each as its own query does, with an error report only where
// that query would print one.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SimpleXPath.h"

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> paths;
    size_t docOffset = 0;
    for (;;) {
        const uint8_t* split =
            static_cast<const uint8_t*>(std::memchr(data + docOffset, 0, size - docOffset));
        if (split == nullptr || paths.size() == 8)
            break;
        size_t end = static_cast<size_t>(split - data);
        paths.emplace_back(reinterpret_cast<const char*>(data + docOffset), end - docOffset);
        docOffset = end + 1;
    }
    if (paths.empty()) {
        // No NUL: the whole input is one path over an empty document.
        paths.emplace_back(reinterpret_cast<const char*>(data), size);
        docOffset = size;
    }

    // An exact-size NUL-terminated copy of the document.
    size_t docLength = size - docOffset;
    std::unique_ptr<char[]> doc(new char[docLength + 1]);
    std::memcpy(doc.get(), data + docOffset, docLength);
    doc[docLength] = '\0';

    std::vector<qor::XPathQuery> queries;
    for (const std::string& path : paths) {
        size_t slashes = static_cast<size_t>(std::count(path.begin(), path.end(), '/'));
        queries.push_back(qor::simpleXPath::compile(path));
        check(queries.back().size() <= slashes);
    }

    qor::simpleXPath query(doc.get());
    std::string report;
    std::vector<qor::XPathAnswer> answers = query.evaluateAll(queries, report);
    check(answers.size() == paths.size());
    for (size_t q = 0; q < paths.size(); ++q) {
        // The single query prints its error line; the pass says which.
        std::string first = query.evaluate(paths[q].c_str());
        std::string second = query.evaluate(paths[q]);
        check(first == second && first == answers[q].value);
        check(first.size() <= docLength);
        check(!answers[q].matched || qor::simpleXPath::canMatch(queries[q]));
        std::vector<qor::XPathQuery> one(1, queries[q]);
        std::string oneReport;
        std::vector<qor::XPathAnswer> alone = query.evaluateAll(one, oneReport);
        check(alone[0].value == first && alone[0].matched == answers[q].matched);
        check(oneReport == (answers[q].matched ? std::string() : report));
    }
    return 0;
}
