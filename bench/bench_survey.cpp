// Site surveys: both survey parsers (cut into cells, then one record per
// cell, as the lister does) against the C library's POSIX regular
// expressions doing the same cutting and field extraction.
#include <benchmark/benchmark.h>
#include <regex.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "BenchSizes.h"
#include "SurveyCells.h"

namespace {

enum class Kind { Forwarded, Direct };

struct Site {
    const char* security;  // IE line, or null for none
    const char* extra;
    bool encrypted;
};

const Site kSites[] = {
    {"IEEE 802.11i/WPA2 Version 1", "wpa_ie=30140100000fac040100000fac040100000fac020000", true},
    {"WPA Version 1", "wpa_ie=dd160050f20101000050f20201000050f20201000050f202", true},
    {nullptr, "tsf=0000001b8e4f2c10", true},
    {nullptr, "Last beacon: 120ms ago", false},
    {"IEEE 802.11i/WPA2 Version 1", "wpa_ie=DD", true},
};

// One cell as the printer's wireless scan lists it. The forwarded kind
// carries the sub-channel's artefacts: "=p"/"=q"/"=r" pairs and stray bytes
// above 126 that the cleaning step removes.
std::string cell(Kind kind, unsigned number, qorbench::Lcg& random) {
    const Site& site = kSites[random.below(sizeof kSites / sizeof kSites[0])];
    unsigned channel = 1 + random.below(13);
    unsigned signal = 30 + random.below(60);
    char mac[32];
    snprintf(mac, sizeof mac, "00:1A:%02X:%02X:%02X:%02X", random.below(256), random.below(256),
             random.below(256), random.below(256));
    char ssid[48];
    snprintf(ssid, sizeof ssid, "%s-%04X", random.below(2) ? "HomeNet" : "Office WLAN",
             random.below(0x10000));
    char text[1024];
    int n;
    if (kind == Kind::Forwarded) {
        n = snprintf(text, sizeof text,
                     "          Cell %02u - Address: %s\n"
                     "                    ESSID:\"%s\"\n"
                     "                    Mode:%s\n"
                     "                    Frequency:2.%03u GHz (Channel %u)\n"
                     "                    Quality=%u/100  Signal level:-%u dBm  Noise "
                     "level=-92 dBm\n"
                     "                    Encryption key:%s\n"
                     "%s%s%s"
                     "                    Bit Rates:1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s; 54 "
                     "Mb/s=p\xB7\n"
                     "                    Extra:%s\n",
                     number % 100, mac, ssid, random.below(4) ? "Master" : "Ad-Hoc",
                     412 + 5 * channel, channel, 100 - signal, signal,
                     site.encrypted ? "on" : "off", site.security ? "                    IE: " : "",
                     site.security ? site.security : "", site.security ? "\n" : "", site.extra);
    } else {
        n = snprintf(text, sizeof text,
                     "          Cell %02u - Address: %s\n"
                     "                    ESSID:\"%s\"\n"
                     "                    Mode:%s\n"
                     "                    Channel=%u\n"
                     "                    Quality:%u/100  Signal level=-%u dBm  Noise "
                     "level=-92 dBm\n"
                     "                    Encryption key:%s\n"
                     "%s%s%s"
                     "                    Extra:%s\n",
                     number % 100, mac, ssid, random.below(4) ? "Managed" : "Ad-Hoc", channel,
                     100 - signal, signal, site.encrypted ? "on" : "off",
                     site.security ? "                    IE: " : "",
                     site.security ? site.security : "", site.security ? "\n" : "", site.extra);
    }
    return std::string(text, static_cast<size_t>(n));
}

struct Survey {
    std::string text;
    size_t cells = 0;
};

const std::vector<Survey>& surveysOf(Kind kind, size_t bytes) {
    static std::map<std::pair<int, size_t>, std::vector<Survey>> cache;
    auto key = std::make_pair(static_cast<int>(kind), bytes);
    auto found = cache.find(key);
    if (found != cache.end())
        return found->second;
    std::vector<Survey> surveys(qorbench::poolCount(bytes));
    qorbench::Lcg random(static_cast<uint32_t>(bytes));
    for (Survey& survey : surveys) {
        survey.text = "wlan0     Scan completed :\n";
        for (;;) {
            std::string next = cell(kind, static_cast<unsigned>(survey.cells + 1), random);
            if (survey.cells > 0 && survey.text.size() + next.size() > bytes)
                break;
            survey.text += next;
            ++survey.cells;
        }
    }
    return cache.emplace(key, std::move(surveys)).first->second;
}

bool sameRecord(const qor::SiteRecord& a, const qor::SiteRecord& b) {
    return a.ssid == b.ssid && a.channel == b.channel && a.mode == b.mode && a.signal == b.signal &&
           a.security == b.security && a.encryption == b.encryption;
}

// --- ours -----------------------------------------------------------------

std::vector<qor::SiteRecord> oursRecords(Kind kind, const std::string& text) {
    qor::PSSDCells forwarded;
    qor::ISDCells direct;
    qor::CellsInterface& cells =
        kind == Kind::Forwarded ? static_cast<qor::CellsInterface&>(forwarded) : direct;
    int count =
        cells.parse(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    std::vector<qor::SiteRecord> records(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        cells.fillRecord(records[static_cast<size_t>(i)], i);
    return records;
}

// --- POSIX regular expressions ----------------------------------------------

// The first match's group 1 within [begin, end), or "" (and false).
bool group(const regex_t& re, const char* begin, const char* end, std::string& out) {
    regmatch_t m[2];
    m[0].rm_so = 0;
    m[0].rm_eo = static_cast<regoff_t>(end - begin);
    out.clear();
    if (regexec(&re, begin, 2, m, REG_STARTEND) != 0 || m[1].rm_so < 0)
        return false;
    out.assign(begin + m[1].rm_so, static_cast<size_t>(m[1].rm_eo - m[1].rm_so));
    return true;
}

struct Patterns {
    regex_t cellWord, ssid, channelForwarded, channelDirect, mode, encryption, signalColon,
        signalEquals, ie, extra, wpa2Word, wpaWord;
    Patterns() {
        compile(cellWord, "Cell");
        compile(ssid, "ESSID:\"([^\"]*)\"");
        compile(channelForwarded, "Channel ([^)]*)\\)");
        compile(channelDirect, "Channel=([^\n]*)\n");
        compile(mode, "Mode:([^\n]*)\n");
        compile(encryption, "Encryption key:([^\n]*)\n");
        compile(signalColon, "Signal level:-([^ ]*) ");
        compile(signalEquals, "Signal level=-([^ ]*) ");
        compile(ie, "IE:([^\n]*)\n");
        compile(extra, "Extra:([^\n]*)\n");
        compile(wpa2Word, "(WPA2[^ ]*) ");
        compile(wpaWord, "(WPA[^ ]*) ");
    }
    static void compile(regex_t& re, const char* pattern) {
        if (regcomp(&re, pattern, REG_EXTENDED) != 0)
            std::abort();
    }
};

const Patterns& patterns() {
    static const Patterns p;
    return p;
}

qor::SiteRecord regexForwardedRecord(const std::string& cellText) {
    const Patterns& p = patterns();
    const char* b = cellText.data();
    const char* e = b + cellText.size();
    qor::SiteRecord r;
    std::string ie, extra;
    group(p.ssid, b, e, r.ssid);
    group(p.channelForwarded, b, e, r.channel);
    group(p.mode, b, e, r.mode);
    group(p.encryption, b, e, r.encryption);
    group(p.signalColon, b, e, r.signal);
    group(p.ie, b, e, ie);
    group(p.extra, b, e, extra);
    r.security = ie;
    if (r.encryption == "off") {
        r.security = "None";
    } else if (r.encryption == "on") {
        if (extra == "wpa_ie=DD")
            r.security = "WPA/WPA2";
        else if (r.security.empty())
            r.security = "WEP";
        else if (r.security.find("WPA2") != std::string::npos && extra == "wpa_ie=30")
            r.security = "WPA2";
        else if (r.security.find("WPA") != std::string::npos &&
                 r.security.find("WPA2") == std::string::npos)
            r.security = "WPA";
        else if (r.security.find("WEP") != std::string::npos)
            r.security = "WEP";
    }
    if (r.signal.empty())
        group(p.signalEquals, b, e, r.signal);
    if (r.signal.empty())
        r.signal = "99";
    if (r.mode == "Master")
        r.mode = "Managed";
    return r;
}

qor::SiteRecord regexDirectRecord(const std::string& cellText) {
    const Patterns& p = patterns();
    const char* b = cellText.data();
    const char* e = b + cellText.size();
    qor::SiteRecord r;
    std::string ie, extra;
    group(p.ssid, b, e, r.ssid);
    group(p.channelDirect, b, e, r.channel);
    group(p.mode, b, e, r.mode);
    if (!group(p.signalEquals, b, e, r.signal))
        r.signal = "99";
    group(p.encryption, b, e, r.encryption);
    if (!group(p.ie, b, e, ie))
        ie = "None";
    group(p.extra, b, e, extra);
    std::string word;
    if (r.encryption != "on") {
        r.security = "None";
    } else if (extra.find("wpa_ie=DD") != std::string::npos) {
        r.security = "WPA/WPA2";
    } else if (ie.find("WPA2") != std::string::npos &&
               extra.find("wpa_ie=30") != std::string::npos) {
        group(p.wpa2Word, ie.data(), ie.data() + ie.size(), r.security);
    } else if (ie.find("WPA") != std::string::npos && ie.find("WPA2") == std::string::npos) {
        group(p.wpaWord, ie.data(), ie.data() + ie.size(), r.security);
    } else {
        r.security = "WEP";
    }
    return r;
}

std::vector<qor::SiteRecord> regexRecords(Kind kind, const std::string& raw) {
    // The forwarded kind is cleaned first, with the same byte rule.
    std::string cleaned;
    if (kind == Kind::Forwarded)
        cleaned = qor::PSSDCells::clean(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    const std::string& text = kind == Kind::Forwarded ? cleaned : raw;
    std::vector<qor::SiteRecord> records;
    const char* b = text.data();
    const char* e = b + text.size();
    regmatch_t m[1];
    const char* cellStart = nullptr;
    for (;;) {
        m[0].rm_so = 0;
        m[0].rm_eo = static_cast<regoff_t>(e - b);
        bool found = regexec(&patterns().cellWord, b, 1, m, REG_STARTEND) == 0;
        const char* cellEnd = found ? b + m[0].rm_so : e;
        if (cellStart && (found || cellEnd > cellStart)) {
            std::string cellText(cellStart, static_cast<size_t>(cellEnd - cellStart));
            records.push_back(kind == Kind::Forwarded ? regexForwardedRecord(cellText)
                                                      : regexDirectRecord(cellText));
        }
        if (!found)
            break;
        cellStart = b = b + m[0].rm_eo;
    }
    return records;
}

// --- runners --------------------------------------------------------------

using Lister = std::vector<qor::SiteRecord> (*)(Kind, const std::string&);

// Every input is first checked against our own parser's records, so the
// peer does the same work; then the inputs are parsed in turn.
void runSurvey(benchmark::State& state, Kind kind, Lister list) {
    const std::vector<Survey>& surveys = surveysOf(kind, static_cast<size_t>(state.range(0)));
    for (const Survey& survey : surveys) {
        std::vector<qor::SiteRecord> expected = oursRecords(kind, survey.text);
        std::vector<qor::SiteRecord> got = list(kind, survey.text);
        bool same = expected.size() == survey.cells && got.size() == expected.size();
        for (size_t i = 0; same && i < got.size(); ++i)
            same = sameRecord(expected[i], got[i]) && !expected[i].ssid.empty();
        if (!same) {
            state.SkipWithError("site record mismatch between parsers");
            return;
        }
    }
    size_t next = 0, bytes = 0;
    for (auto _ : state) {
        const Survey& survey = surveys[next];
        next = next + 1 == surveys.size() ? 0 : next + 1;
        bytes += survey.text.size();
        std::vector<qor::SiteRecord> records = list(kind, survey.text);
        benchmark::DoNotOptimize(records.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["input_bytes"] = static_cast<double>(surveys[0].text.size());
    state.counters["cells"] = static_cast<double>(surveys[0].cells);
}

void SurveyForwarded_ours(benchmark::State& state) {
    runSurvey(state, Kind::Forwarded, oursRecords);
}
BENCHMARK(SurveyForwarded_ours)->Apply(qorbench::inputSizes);

void SurveyForwarded_regex(benchmark::State& state) {
    runSurvey(state, Kind::Forwarded, regexRecords);
}
BENCHMARK(SurveyForwarded_regex)->Apply(qorbench::inputSizes);

void SurveyDirect_ours(benchmark::State& state) {
    runSurvey(state, Kind::Direct, oursRecords);
}
BENCHMARK(SurveyDirect_ours)->Apply(qorbench::inputSizes);

void SurveyDirect_regex(benchmark::State& state) {
    runSurvey(state, Kind::Direct, regexRecords);
}
BENCHMARK(SurveyDirect_regex)->Apply(qorbench::inputSizes);

}  // namespace

BENCHMARK_MAIN();
