// Evaluates a fuzzed path over a fuzzed document: the input is the path, a
// NUL byte, then the document. The same query must give the same answer
// twice, and a compiled path never has more steps than the path has '/'.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "SimpleXPath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* split = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    size_t pathLength = split ? static_cast<size_t>(split - data) : size;
    size_t docOffset = split ? pathLength + 1 : size;

    // Exact-size NUL-terminated copies of both parts.
    std::unique_ptr<char[]> path(new char[pathLength + 1]);
    std::memcpy(path.get(), data, pathLength);
    path[pathLength] = '\0';
    size_t docLength = size - docOffset;
    std::unique_ptr<char[]> doc(new char[docLength + 1]);
    std::memcpy(doc.get(), data + docOffset, docLength);
    doc[docLength] = '\0';

    std::string pathText(path.get());
    size_t slashes = static_cast<size_t>(std::count(pathText.begin(), pathText.end(), '/'));
    if (qor::simpleXPath::compile(pathText).size() > slashes)
        std::abort();

    qor::simpleXPath query(doc.get());
    std::string first = query.evaluate(path.get());
    std::string second = query.evaluate(pathText);
    if (first != second)
        std::abort();
    if (first.size() > docLength)
        std::abort();
    return 0;
}
