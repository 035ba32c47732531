// Discovery replies: our reply parser against ldns and c-ares reading the
// same DNS messages and handing the same TXT strings to the same entry
// reader, so the difference is the DNS message parsing alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "BenchSizes.h"
#include "hcp.h"
#include "qor/ByteReader.h"

#ifdef QOR_BENCH_LDNS
#include <ldns/ldns.h>
#endif
#ifdef QOR_BENCH_CARES
#include <ares.h>
#endif

namespace {

using Datagram = std::vector<uint8_t>;

void writeLabels(qor::ByteWriter& w, std::initializer_list<const char*> labels) {
    for (const char* label : labels) {
        w.writeU8(static_cast<uint8_t>(strlen(label)));
        w.writeText(label);
    }
    w.writeU8(0);
}

void writePointer(qor::ByteWriter& w, size_t offset) {
    w.writeBE16(static_cast<uint16_t>(0xC000 | offset));
}

// One printer's answer as a responder sends it: the question echoed, a PTR to
// the instance, the TXT record under the instance name (compressed), and an
// SRV and an A record as additional data. `extraEntries` appends vendor
// entries the parser ignores, to grow one message.
Datagram printerReply(qorbench::Lcg& random, size_t extraEntries) {
    unsigned serial = random.below(0xFFFFFF);
    unsigned host = 2 + random.below(250);
    char instance[64];
    snprintf(instance, sizeof instance, "Tamo MX-4120 [%06X]", serial);
    char target[32];
    snprintf(target, sizeof target, "NPI%06X", serial);

    std::vector<std::string> entries;
    char entry[256];
    snprintf(entry, sizeof entry, "IPADDRESS=\"192.168.1.%u\"", host);
    entries.push_back(entry);
    entries.push_back("IPNETMASK=\"255.255.255.0\"");
    entries.push_back("IPGATEWAY=\"192.168.1.1\"");
    snprintf(entry, sizeof entry, "IPNAME=\"%s\"", target);
    entries.push_back(entry);
    snprintf(entry, sizeof entry, "MACUAA=\"00C0EE%06X\"", serial);
    entries.push_back(entry);
    entries.push_back("MACLAA=\"000000000000\"");
    entries.push_back("IPADDRSOURCE=\"DHCP\"");
    entries.push_back("PASSWORDSET=\"FALSE\"");
    entries.push_back("ADAPTERNAME=\"Tamo Wireless Print Server\"");
    entries.push_back("CPDATTACHED=\"TRUE\"");
    entries.push_back(
        "1284STRID=\"MFG:Tamo;CMD:PCL,PJL,POSTSCRIPT;MDL:Tamo MX-4120;CLS:PRINTER;"
        "DES:Tamo MX-4120 Color MFP;\"");
    entries.push_back("PRINTERVIDPID=\"3A5D0412\"");
    snprintf(entry, sizeof entry, "MDNSNAME=\"%s\"", instance);
    entries.push_back(entry);
    for (size_t k = 0; k < extraEntries; ++k) {
        snprintf(entry, sizeof entry, "X-TAMO-FEATURE%04zu=\"duplex,color,a4,letter,%08X\"", k,
                 random.next());
        entries.push_back(entry);
    }

    qor::ByteWriter w;
    w.writeBE16(0);       // ID
    w.writeBE16(0x8400);  // response, authoritative
    w.writeBE16(1);       // the question, echoed
    w.writeBE16(2);       // PTR, TXT
    w.writeBE16(0);
    w.writeBE16(2);  // SRV, A
    size_t serviceAt = w.size();
    writeLabels(w, {"_host-config", "_udp", "local"});
    w.writeBE16(12);  // PTR
    w.writeBE16(1);   // IN

    writePointer(w, serviceAt);
    w.writeBE16(12);
    w.writeBE16(1);
    w.writeBE32(4500);
    size_t rdAt = w.size();
    w.writeBE16(0);
    size_t instanceAt = w.size();
    w.writeU8(static_cast<uint8_t>(strlen(instance)));
    w.writeText(instance);
    writePointer(w, serviceAt);
    w.patchBE16(rdAt, static_cast<uint16_t>(w.size() - rdAt - 2));

    writePointer(w, instanceAt);
    w.writeBE16(16);  // TXT
    w.writeBE16(1);
    w.writeBE32(4500);
    rdAt = w.size();
    w.writeBE16(0);
    for (const std::string& text : entries) {
        w.writeU8(static_cast<uint8_t>(text.size()));
        w.writeText(text);
    }
    w.patchBE16(rdAt, static_cast<uint16_t>(w.size() - rdAt - 2));

    writePointer(w, instanceAt);
    w.writeBE16(33);  // SRV
    w.writeBE16(1);
    w.writeBE32(120);
    rdAt = w.size();
    w.writeBE16(0);
    w.writeBE16(0);
    w.writeBE16(0);
    w.writeBE16(9100);
    size_t targetAt = w.size();
    w.writeU8(static_cast<uint8_t>(strlen(target)));
    w.writeText(target);
    writePointer(w, serviceAt + 1 + strlen("_host-config") + 1 + strlen("_udp"));
    w.patchBE16(rdAt, static_cast<uint16_t>(w.size() - rdAt - 2));

    // A pointer holds 14 bits: past 16 KiB the target name is written out.
    if (targetAt < 0x4000)
        writePointer(w, targetAt);
    else
        writeLabels(w, {target, "local"});
    w.writeBE16(1);  // A
    w.writeBE16(1);
    w.writeBE32(120);
    w.writeBE16(4);
    const uint8_t address[4] = {192, 168, 1, static_cast<uint8_t>(host)};
    w.writeBytes(address, sizeof address);
    return w.take();
}

// A burst of whole replies, as many as fit in `bytes` (at least one), the
// shape of a busy discovery window.
struct Burst {
    std::vector<Datagram> datagrams;
    size_t bytes = 0;
};

using Pool = std::vector<Burst>;

const Pool& burstsOf(size_t bytes) {
    static std::map<size_t, Pool> cache;
    auto found = cache.find(bytes);
    if (found != cache.end())
        return found->second;
    Pool pool(qorbench::poolCount(bytes));
    qorbench::Lcg random(static_cast<uint32_t>(bytes));
    for (Burst& burst : pool) {
        for (;;) {
            Datagram reply = printerReply(random, 0);
            if (!burst.datagrams.empty() && burst.bytes + reply.size() > bytes)
                break;
            burst.bytes += reply.size();
            burst.datagrams.push_back(std::move(reply));
        }
    }
    return cache.emplace(bytes, std::move(pool)).first->second;
}

// One reply grown with vendor entries up to `bytes`. A DNS message and its
// TXT data stop at 65535 bytes, so this series ends near 64 KiB.
const Pool& largeRepliesOf(size_t bytes) {
    static std::map<size_t, Pool> cache;
    auto found = cache.find(bytes);
    if (found != cache.end())
        return found->second;
    qorbench::Lcg random(7);
    size_t base = printerReply(random, 0).size();
    size_t perEntry = printerReply(random, 1).size() - base;
    size_t extra = bytes > base ? (bytes - base) / perEntry : 0;
    Pool pool(qorbench::poolCount(bytes));
    for (Burst& burst : pool) {
        burst.datagrams.push_back(printerReply(random, extra));
        burst.bytes = burst.datagrams.back().size();
    }
    return cache.emplace(bytes, std::move(pool)).first->second;
}

#if defined(QOR_BENCH_LDNS) || defined(QOR_BENCH_CARES)
// A TXT string's text ends at its length or an embedded zero byte.
std::string textUpToZero(const uint8_t* data, size_t length) {
    const void* zero = memchr(data, 0, length);
    size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : length;
    return std::string(reinterpret_cast<const char*>(data), n);
}
#endif

bool sameDevice(const HcpDevice& a, const HcpDevice& b) {
    return a.mac == b.mac && a.ip == b.ip && a.model == b.model && a.manufacturer == b.manufacturer;
}

// --- ours ---------------------------------------------------------------

bool oursParse(const Hcp& hcp, const Datagram& datagram, HcpDevice& device) {
    return hcp.parseReply(qor::ByteSpan(datagram), device);
}

#ifdef QOR_BENCH_LDNS
// The second label of an uncompressed wire-format name.
bool secondLabelIs(const ldns_rdf* name, const char* label) {
    const uint8_t* wire = ldns_rdf_data(name);
    size_t size = ldns_rdf_size(name);
    if (size < 1 || wire[0] + 1u >= size)
        return false;
    size_t at = wire[0] + 1u;
    size_t length = wire[at];
    return at + 1 + length <= size && length == strlen(label) &&
           memcmp(wire + at + 1, label, length) == 0;
}

bool ldnsParse(const Hcp& hcp, const Datagram& datagram, HcpDevice& device) {
    ldns_pkt* packet = nullptr;
    if (ldns_wire2pkt(&packet, datagram.data(), datagram.size()) != LDNS_STATUS_OK)
        return false;
    bool found = false;
    ldns_rr_list* sections[3] = {ldns_pkt_answer(packet), ldns_pkt_authority(packet),
                                 ldns_pkt_additional(packet)};
    for (ldns_rr_list* list : sections) {
        for (size_t i = 0; !found && i < ldns_rr_list_rr_count(list); ++i) {
            ldns_rr* rr = ldns_rr_list_rr(list, i);
            if (ldns_rr_get_type(rr) != LDNS_RR_TYPE_TXT ||
                !secondLabelIs(ldns_rr_owner(rr), "_host-config")) {
                continue;
            }
            found = true;
            for (size_t k = 0; k < ldns_rr_rd_count(rr); ++k) {
                const ldns_rdf* text = ldns_rr_rdf(rr, k);
                const uint8_t* data = ldns_rdf_data(text);
                if (ldns_rdf_size(text) >= 1)
                    hcp.applyTxtEntry(textUpToZero(data + 1, ldns_rdf_size(text) - 1), device);
            }
        }
    }
    ldns_pkt_free(packet);
    return found;
}
#endif

#ifdef QOR_BENCH_CARES
// c-ares reads the answer section's TXT records (it does not hand out their
// owner names, which our generated replies all put under the service).
bool caresParse(const Hcp& hcp, const Datagram& datagram, HcpDevice& device) {
    ares_txt_ext* texts = nullptr;
    if (ares_parse_txt_reply_ext(datagram.data(), static_cast<int>(datagram.size()), &texts) !=
        ARES_SUCCESS) {
        return false;
    }
    bool first = true;
    for (ares_txt_ext* t = texts; t; t = t->next) {
        if (t->record_start && !first)
            break;  // only the first TXT record counts
        first = false;
        hcp.applyTxtEntry(textUpToZero(t->txt, t->length), device);
    }
    ares_free_data(texts);
    return true;
}
#endif

using Parser = bool (*)(const Hcp&, const Datagram&, HcpDevice&);

// Runs `parse` over every datagram of each input in turn; every device is
// first checked against our own parser's, so the peers do the same work.
void runParser(benchmark::State& state, Parser parse, const Pool& pool) {
    Hcp hcp("tamo");
    for (const Burst& input : pool) {
        for (const Datagram& datagram : input.datagrams) {
            HcpDevice expected, got;
            bool a = oursParse(hcp, datagram, expected);
            bool b = parse(hcp, datagram, got);
            if (!a || expected.mac.empty()) {
                state.SkipWithError("our parser refused a generated reply");
                return;
            }
            if (!b) {
                state.SkipWithError("the peer refused a generated reply");
                return;
            }
            if (!sameDevice(expected, got)) {
                state.SkipWithError("device mismatch between parsers");
                return;
            }
        }
    }
    size_t next = 0, bytes = 0;
    for (auto _ : state) {
        const Burst& input = pool[next];
        next = next + 1 == pool.size() ? 0 : next + 1;
        bytes += input.bytes;
        for (const Datagram& datagram : input.datagrams) {
            HcpDevice device;
            bool found = parse(hcp, datagram, device);
            benchmark::DoNotOptimize(found);
            benchmark::DoNotOptimize(device.mac.data());
        }
    }
    // Inputs of one size differ by a few bytes; the rate uses what was read.
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["input_bytes"] = static_cast<double>(pool[0].bytes);
    state.counters["replies"] = static_cast<double>(pool[0].datagrams.size());
}

void largeReplySizes(benchmark::internal::Benchmark* b) {
    b->Arg(1 << 10)->Arg(16 << 10)->Arg(63 << 10);
}

void DiscoveryBurst_ours(benchmark::State& state) {
    runParser(state, oursParse, burstsOf(static_cast<size_t>(state.range(0))));
}
BENCHMARK(DiscoveryBurst_ours)->Apply(qorbench::inputSizes);

void DiscoveryLargeReply_ours(benchmark::State& state) {
    runParser(state, oursParse, largeRepliesOf(static_cast<size_t>(state.range(0))));
}
BENCHMARK(DiscoveryLargeReply_ours)->Apply(largeReplySizes);

#ifdef QOR_BENCH_LDNS
void DiscoveryBurst_ldns(benchmark::State& state) {
    runParser(state, ldnsParse, burstsOf(static_cast<size_t>(state.range(0))));
}
BENCHMARK(DiscoveryBurst_ldns)->Apply(qorbench::inputSizes);

void DiscoveryLargeReply_ldns(benchmark::State& state) {
    runParser(state, ldnsParse, largeRepliesOf(static_cast<size_t>(state.range(0))));
}
BENCHMARK(DiscoveryLargeReply_ldns)->Apply(largeReplySizes);
#endif

#ifdef QOR_BENCH_CARES
void DiscoveryBurst_cares(benchmark::State& state) {
    runParser(state, caresParse, burstsOf(static_cast<size_t>(state.range(0))));
}
BENCHMARK(DiscoveryBurst_cares)->Apply(qorbench::inputSizes);

void DiscoveryLargeReply_cares(benchmark::State& state) {
    runParser(state, caresParse, largeRepliesOf(static_cast<size_t>(state.range(0))));
}
BENCHMARK(DiscoveryLargeReply_cares)->Apply(largeReplySizes);
#endif

}  // namespace

BENCHMARK_MAIN();
