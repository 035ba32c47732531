// Deterministic random texts that look like XML, and like the certificate
// manager's answers, with the faults a printer or a damaged transfer can
// put in them: cut-off tags, wrong end tags, stray bytes, quotes and
// entities of every kind.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace qor::testing {

class RandomXml {
  public:
    explicit RandomXml(uint32_t seed) : m_Random(seed) {}

    uint32_t below(uint32_t bound) { return bound ? m_Random() % bound : 0; }

    std::string text() {
        static const char* const kPieces[] = {
            "a",   "x y", "  ", "\n\t",    "&amp;",    "&lt;",     "&gt;", "&quot;", "&apos;",
            "&x;", "&",   ";",  "R&amp;D", "&amp;lt;", "\xC3\xA9", "1",    "-->",    "?>"};
        std::string s;
        for (uint32_t n = below(4); n > 0; --n)
            s += pick(kPieces);
        return s;
    }

    std::string name() {
        static const char* const kNames[] = {"a",     "b",          "S",       "L",   "r",
                                             "child", "StringElem", "xmlns",   "Xml", "_n",
                                             ":c",    "d-1.e",      "ListElem"};
        return pick(kNames);
    }

    std::string attributeList() {
        std::string s;
        for (uint32_t n = below(4); n > 0; --n) {
            static const char* const kForms[] = {" %n=\"%v\"", " %n = \"%v\"", "\n%n=\"%v\"",
                                                 " %n='%v'",   " %n=%v",       " %n",
                                                 " %n=\"%v",   "%n=\"%v\""};
            std::string form = pick(kForms);
            std::string out;
            for (size_t k = 0; k < form.size(); ++k) {
                if (form[k] == '%' && k + 1 < form.size() && form[k + 1] == 'n') {
                    out += name();
                    ++k;
                } else if (form[k] == '%' && k + 1 < form.size() && form[k + 1] == 'v') {
                    out += text();
                    ++k;
                } else {
                    out += form[k];
                }
            }
            s += out;
        }
        return s;
    }

    // Mostly well-formed nesting with an occasional fault.
    std::string document() {
        std::string s;
        if (below(3) == 0)
            s += "<?xml version=\"1.0\"?>\n";
        if (below(4) == 0)
            s += text();
        std::vector<std::string> open;
        for (uint32_t steps = 1 + below(40); steps > 0; --steps) {
            switch (below(10)) {
                case 0:
                case 1:
                case 2: {
                    std::string n = name();
                    s += "<" + n + attributeList();
                    if (below(4) == 0) {
                        s += below(2) ? "/>" : " />";
                    } else {
                        s += ">";
                        open.push_back(n);
                    }
                    break;
                }
                case 3:
                case 4:
                    if (!open.empty()) {
                        s += "</" + (below(12) == 0 ? name() : open.back()) +
                             (below(5) ? ">" : " >");
                        open.pop_back();
                    }
                    break;
                case 5:
                case 6:
                    s += text();
                    break;
                case 7:
                    s += below(2) ? "<!-- c -->" : "<?p x?>";
                    break;
                case 8:
                    s += below(3) == 0 ? "<" : " ";
                    break;
                default:
                    if (below(6) == 0)
                        s += pick({"<!--", "<?", "</", "<1", "\"", ">"});
                    break;
            }
        }
        while (!open.empty() && below(5) != 0) {
            s += "</" + open.back() + ">";
            open.pop_back();
        }
        if (below(3) == 0)
            s += pick({"\n", " trailing", "<z/>", "<!-- end -->", "</r>"});
        if (below(4) == 0 && !s.empty())
            s.resize(below(static_cast<uint32_t>(s.size())));  // cut off anywhere
        return s;
    }

    // A tree under <r> of the names S, L, a and b, with runs of siblings
    // and a few attributes, that a third of the time carries one fault.
    std::string tree() {
        std::string s = below(2) ? "<?xml version=\"1.0\"?>\n<r>" : "<r>";
        subtree(s, 1);
        s += "</r>";
        switch (below(9)) {
            case 0:
                s.resize(below(static_cast<uint32_t>(s.size())));
                break;
            case 1:
                s.insert(below(static_cast<uint32_t>(s.size())),
                         pick({"</x>", "<", "\"", "<a b='1'>"}));
                break;
            case 2:
                s += pick({" stray", "</r>", "<a><b></a>"});
                break;
            default:
                break;
        }
        return s;
    }

  private:
    template <size_t N>
    const char* pick(const char* const (&items)[N]) {
        return items[below(N)];
    }
    const char* pick(std::initializer_list<const char*> items) {
        return *(items.begin() + below(static_cast<uint32_t>(items.size())));
    }

    void subtree(std::string& s, int depth) {
        static const char* const kNames[] = {"S", "S", "L", "a", "b"};
        static const char* const kAttributes[] = {"",        "",         "",           " b=\"x y\"",
                                                  " a=\"\"", " S=\"a\"", " b=\"&lt;\""};
        for (uint32_t n = below(6); n > 0; --n) {
            std::string name = pick(kNames);
            s += "<" + name + pick(kAttributes);
            if (below(6) == 0) {
                s += "/>";
                continue;
            }
            s += ">";
            if (below(3) == 0)
                s += text();
            if (depth < 3 && below(3) == 0)
                subtree(s, depth + 1);
            if (below(4) == 0)
                s += text();
            s += "</" + name + ">";
        }
    }

    std::mt19937 m_Random;
};

}  // namespace qor::testing
