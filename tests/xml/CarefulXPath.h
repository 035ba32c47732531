// Path queries as they first stood: one query per parse, through the plain
// parser of CarefulSaxParser.h and its NUL-terminated events. The tests hold
// simpleXPath (and the readers built on it) to this, value for value and
// printed line for printed line.
#pragma once

#include <string>
#include <vector>

#include "CarefulSaxParser.h"
#include "SimpleXPath.h"

namespace qor::testing::careful {

class XPath : public SimpleSAXHandler {
  public:
    explicit XPath(std::string document) : m_Document(std::move(document)) {}

    std::string evaluate(const std::string& path) {
        m_Query = simpleXPath::compile(path);
        bool canMatch = true;
        for (const XPathStep& step : m_Query)
            canMatch = canMatch && step.predicateKind != "<UNDEFINED>";
        m_Result.clear();
        m_Stop = false;
        parse(m_Document.c_str(), canMatch ? this : nullptr);
        return m_Result;
    }

    void startDocument() override {
        m_Result.clear();
        m_Open.clear();
        m_LastClosed = XPathStep();
    }
    void startElement(const char* name, const attributes& attrs) override {
        XPathStep step;
        step.name = name;
        step.attrs = attrs;
        step.index = m_LastClosed.name == step.name ? m_LastClosed.index + 1 : 1;
        m_Open.push_back(step);
    }
    void characters(const char* text, int32_t) override {
        if (!m_Open.empty())
            m_Open.back().text += text;
    }
    void endElement(const char*) override {
        if (m_Open.empty())
            return;
        if (matches()) {
            m_Result = m_Open.back().text;
            m_Stop = true;
        }
        m_LastClosed = m_Open.back();
        m_Open.pop_back();
    }

  private:
    bool matches() const {
        if (m_Query.empty() || m_Query.size() != m_Open.size())
            return false;
        for (size_t k = 0; k < m_Query.size(); ++k) {
            const XPathStep& want = m_Query[k];
            const XPathStep& have = m_Open[k];
            if (want.name != have.name)
                return false;
            if (want.predicateKind.empty())
                continue;
            if (want.predicateKind == "<UNDEFINED>")
                return false;
            if (want.predicateKind == "<INDEX>") {
                if (want.index != have.index)
                    return false;
            } else if (have.attrs.get(want.predicateKind) != want.predicateValue) {
                return false;
            }
        }
        return true;
    }

    std::string m_Document;
    std::vector<XPathStep> m_Query;
    std::vector<XPathStep> m_Open;
    XPathStep m_LastClosed;
    std::string m_Result;
};

}  // namespace qor::testing::careful
