// Records shared between instances that run at the same time.
#include <gtest/gtest.h>

#include "HcpScenario.h"
#include "SharedDiscovery.h"

namespace {
std::string record(const std::vector<uint8_t>& bytes) {
    std::string r;
    r += static_cast<char>(bytes.size() >> 8);
    r += static_cast<char>(bytes.size() & 0xFF);
    r.append(bytes.begin(), bytes.end());
    return r;
}
}  // namespace

TEST(SharedRecords, EachFollowerFiltersByItsOwnManufacturer) {
    ReplySpec tamo;
    tamo.entries = {"MACUAA=000000000001", "1284STRID=\"Tamo T1\""};
    ReplySpec dalor;
    dalor.entries = {"MACUAA=000000000002", "1284STRID=\"DALOR D1\""};
    std::string all = record(buildReply(tamo)) + record(buildReply(dalor)) +
                      record(buildReply(tamo)) + std::string(2, '\0');
    Hcp tamoFinder("tamo"), genericFinder("generic");
    int seen = 0;
    std::string pending = all;
    EXPECT_TRUE(consumeSharedRecords(pending, tamoFinder, [&](const HcpDevice&) {
        ++seen;
        return false;
    }));
    EXPECT_EQ(seen, 2);
    EXPECT_TRUE(pending.empty());
    pending = all;
    EXPECT_TRUE(consumeSharedRecords(pending, genericFinder, nullptr));
    EXPECT_EQ(genericFinder.devices().size(), 3u);
}

TEST(SharedRecords, PartialRecordWaitsForTheRest) {
    ReplySpec tamo;
    tamo.entries = {"1284STRID=\"Tamo T1\""};
    std::string whole = record(buildReply(tamo));
    Hcp finder("tamo");
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        std::string pending = whole.substr(0, cut);
        EXPECT_FALSE(consumeSharedRecords(pending, finder, nullptr));
        EXPECT_EQ(pending.size(), cut);
    }
    std::string pending = whole;
    EXPECT_FALSE(consumeSharedRecords(pending, finder, nullptr));
    EXPECT_EQ(finder.devices().size(), 1u);
}
