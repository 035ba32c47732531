// The two survey parsers on realistic listings and on hostile bytes.
#include "SurveyCells.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "SurveyTexts.h"

namespace qor {
namespace {

using test::bytesOf;

template <typename Cells>
int parseText(Cells& cells, const std::string& text) {
    std::vector<uint8_t> bytes = bytesOf(text);
    return cells.parse(bytes.data(), static_cast<int>(bytes.size()));
}

template <typename Cells>
SiteRecord recordOf(const Cells& cells, int index) {
    SiteRecord record;
    EXPECT_EQ(cells.fillRecord(record, index), 0);
    return record;
}

void expectRecord(const SiteRecord& r, const char* ssid, const char* channel, const char* mode,
                  const char* signal, const char* security, const char* encryption) {
    EXPECT_EQ(r.ssid, ssid);
    EXPECT_EQ(r.channel, channel);
    EXPECT_EQ(r.mode, mode);
    EXPECT_EQ(r.signal, signal);
    EXPECT_EQ(r.security, security);
    EXPECT_EQ(r.encryption, encryption);
}

// ---- cutting ----------------------------------------------------------------

TEST(SurveyCutting, DropsTextBeforeFirstCellAndKeepsTextAfterEachCellWord) {
    ISDCells cells;
    ASSERT_EQ(parseText(cells, "xxCell 01\nESSID:\"a\"\nCell 02\nESSID:\"b\"\n"), 2);
    std::string text;
    cells.cellText(text, 0);
    EXPECT_EQ(text, " 01\nESSID:\"a\"\n");
    cells.cellText(text, 1);
    EXPECT_EQ(text, " 02\nESSID:\"b\"\n");
}

TEST(SurveyCutting, TextWithoutCellWordHasNoCells) {
    ISDCells isd;
    PSSDCells pssd;
    EXPECT_EQ(parseText(isd, "ESSID:\"a\"\nMode:Managed\n"), 0);
    EXPECT_EQ(parseText(pssd, "ESSID:\"a\"\nMode:Managed\n"), 0);
    EXPECT_EQ(parseText(isd, ""), 0);
    EXPECT_EQ(isd.parse(nullptr, 10), 0);
    EXPECT_EQ(pssd.parse(nullptr, 10), 0);
}

TEST(SurveyCutting, EmptyLastCellIsNotStoredButEmptyInnerCellIs) {
    ISDCells cells;
    EXPECT_EQ(parseText(cells, "Cell"), 0);
    ISDCells inner;
    EXPECT_EQ(parseText(inner, "CellCell 2"), 2);
    std::string text;
    inner.cellText(text, 0);
    EXPECT_EQ(text, "");
    inner.cellText(text, 1);
    EXPECT_EQ(text, " 2");
}

TEST(SurveyCutting, CellWordSplitByNoiseIsJoinedInForwardingFormatOnly) {
    // Cleaning runs before cutting in the forwarding format.
    std::vector<uint8_t> bytes = {'C', 'e', 0xFF, 'l', 'l', ' ', '1'};
    PSSDCells pssd;
    EXPECT_EQ(pssd.parse(bytes.data(), static_cast<int>(bytes.size())), 1);
    ISDCells isd;
    EXPECT_EQ(isd.parse(bytes.data(), static_cast<int>(bytes.size())), 0);
}

TEST(SurveyCutting, NewParseAppendsToTheCellList) {
    ISDCells cells;
    EXPECT_EQ(parseText(cells, "Cell 1"), 1);
    EXPECT_EQ(parseText(cells, "Cell 2Cell 3"), 2);
    ASSERT_EQ(cells.cells().size(), 3u);
    EXPECT_EQ(cells.cells()[2], " 3");
}

TEST(SurveyCutting, IndexOutsideTheListGivesEmptyTextAndRecord) {
    PSSDCells cells;
    parseText(cells, "Cell 1 ESSID:\"x\"");
    std::string text = "stale";
    cells.cellText(text, 1);
    EXPECT_EQ(text, "");
    cells.cellText(text, -1);
    EXPECT_EQ(text, "");
    SiteRecord record = recordOf(cells, 5);
    EXPECT_EQ(record.ssid, "");
    EXPECT_EQ(record.signal, "99");
}

TEST(SurveyCutting, NegativeOrZeroLengthReadsNothing) {
    uint8_t guard[4] = {'C', 'e', 'l', 'l'};
    ISDCells isd;
    PSSDCells pssd;
    EXPECT_EQ(isd.parse(guard, 0), 0);
    EXPECT_EQ(isd.parse(guard, -5), 0);
    EXPECT_EQ(pssd.parse(guard, -1), 0);
}

TEST(SurveyCutting, TimeGrowsLinearlyWithTheText) {
    // About a megabyte of near-miss markers. A pass per byte over the rest of
    // the text would take many minutes; linear work takes seconds at most,
    // even with the sanitizers on a loaded machine, hence the loose bound.
    std::string text;
    for (int i = 0; i < 25000; ++i)
        text += "CelCe ESSID:";
    text += "Cell";
    for (int i = 0; i < 25000; ++i)
        text += "ESSID:\"Signal level:-IE:";
    auto start = std::chrono::steady_clock::now();
    PSSDCells pssd;
    EXPECT_EQ(parseText(pssd, text), 1);
    SiteRecord r = recordOf(pssd, 0);
    ISDCells isd;
    EXPECT_EQ(parseText(isd, text), 1);
    r = recordOf(isd, 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 30000);
}

TEST(SurveyCutting, ManySmallCellsTakeLinearTime) {
    // 50000 cells: the list output and the records go cell by cell, so a
    // pass over the whole text per cell would take minutes.
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += "Cell ESSID:\"a\"\n";
    auto start = std::chrono::steady_clock::now();
    PSSDCells pssd;
    ISDCells isd;
    ASSERT_EQ(parseText(pssd, text), 50000);
    ASSERT_EQ(parseText(isd, text), 50000);
    std::string cell;
    for (int i = 0; i < 50000; ++i) {
        pssd.cellText(cell, i);
        SiteRecord a = recordOf(pssd, i);
        SiteRecord b = recordOf(isd, i);
        if (a.ssid != "a" || b.ssid != "a" || cell != " ESSID:\"a\"\n") {
            ADD_FAILURE() << "cell " << i;
            break;
        }
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 30000);
}

// ---- cleaning (forwarding format) -------------------------------------------

TEST(ForwardedSurveyCleaning, RemovesNulHighBytesAndEqualsLetterPairs) {
    std::vector<uint8_t> bytes = {'a', 0x00, 'b', 0x7F, 'c', 0x80, 0xFF, 'd', '=', 'p', 'e', '=',
                                  'q', 'f',  '=', 'r',  'g', '=',  's',  '=', '=', 'p', '='};
    EXPECT_EQ(PSSDCells::clean(bytes.data(), bytes.size()), "abcdefg=s==");
    EXPECT_EQ(PSSDCells::clean(nullptr, 3), "");
}

TEST(ForwardedSurveyCleaning, KeepsByte126AndLettersAfterOtherBytes) {
    std::vector<uint8_t> bytes = {0x7E, 'p', 'q', ' ', '=', 'P'};
    EXPECT_EQ(PSSDCells::clean(bytes.data(), bytes.size()), "~pq =P");
}

// ---- extraction -------------------------------------------------------------

TEST(ForwardedExtract, TakesTextBetweenFirstStartAndNextEnd) {
    std::string out = "stale";
    PSSDCells::extractBetween(out, "a Mode:Managed\nMode:Ad-Hoc\n", "Mode:", "\n");
    EXPECT_EQ(out, "Managed");
    PSSDCells::extractBetween(out, "ESSID:\"\"\n", "ESSID:\"", "\"");
    EXPECT_EQ(out, "");
    PSSDCells::extractBetween(out, "Mode:Managed", "Mode:", "\n");
    EXPECT_EQ(out, "");
    PSSDCells::extractBetween(out, "nothing here\n", "Mode:", "\n");
    EXPECT_EQ(out, "");
    PSSDCells::extractBetween(out, "Mode:x\n", "Mode:", "\n");
    EXPECT_EQ(out, "x");
}

TEST(ForwardedExtract, StartMarkerEndingInEndMarkerNeedsAClosingOne) {
    std::string out = "stale";
    PSSDCells::extractBetween(out, "ESSID:\"unterminated", "ESSID:\"", "\"");
    EXPECT_EQ(out, "");
}

TEST(DirectExtract, FixedValuesForMissingOrLeadingIeAndSignal) {
    std::string out;
    ISDCells::extractBetween(out, "no labels\n", "IE:", "\n", 0);
    EXPECT_EQ(out, "None");
    ISDCells::extractBetween(out, "IE: WPA Version 1\n", "IE:", "\n", 0);
    EXPECT_EQ(out, "None");
    ISDCells::extractBetween(out, "no labels\n", "Signal level=-", " ", 0);
    EXPECT_EQ(out, "99");
    ISDCells::extractBetween(out, "Signal level=-40 dBm", "Signal level=-", " ", 0);
    EXPECT_EQ(out, "99");
    ISDCells::extractBetween(out, " Signal level=-40 dBm", "Signal level=-", " ", 0);
    EXPECT_EQ(out, "40");
    ISDCells::extractBetween(out, " IE: WPA\n", "IE:", "\n", 0);
    EXPECT_EQ(out, " WPA");
}

TEST(DirectExtract, OtherMissingMarkersGiveEmptyAndFlagOneKeepsStart) {
    std::string out = "stale";
    ISDCells::extractBetween(out, "no labels\n", "Mode:", "\n", 0);
    EXPECT_EQ(out, "");
    ISDCells::extractBetween(out, " IEEE 802.11i/WPA2 Version 1", "WPA2", " ", 1);
    EXPECT_EQ(out, "WPA2");
    ISDCells::extractBetween(out, "WPA2-PSK rest", "WPA2", " ", 1);
    EXPECT_EQ(out, "WPA2-PSK");
    ISDCells::extractBetween(out, " IEEE WPA2", "WPA2", " ", 1);
    EXPECT_EQ(out, "");
    ISDCells::extractBetween(out, "x Channel=6\n", "Channel=", "\n", 0);
    EXPECT_EQ(out, "6");
}

// ---- direct format records ----------------------------------------------------

TEST(DirectSurveyRecords, RealisticListingGivesEachSiteAndSecurity) {
    ISDCells cells;
    ASSERT_EQ(parseText(cells, test::kDirectSurvey), 6);
    expectRecord(recordOf(cells, 0), "HomeNet", "6", "Managed", "45", "WPA2", "on");
    expectRecord(recordOf(cells, 1), "Office Mixed", "11", "Managed", "67", "WPA/WPA2", "on");
    expectRecord(recordOf(cells, 2), "OldWep", "1", "Managed", "80", "WEP", "on");
    expectRecord(recordOf(cells, 3), "Cafe", "3", "Managed", "71", "None", "off");
    expectRecord(recordOf(cells, 4), "PeerLink", "9", "Ad-Hoc", "85", "None", "off");
    // Master stays Master in this format; lower-case dd is not the WPA element.
    expectRecord(recordOf(cells, 5), "", "4", "Master", "55", "WPA", "on");
}

TEST(DirectSurveyRecords, CellTextIsUnchanged) {
    ISDCells cells;
    ASSERT_EQ(parseText(cells, test::kDirectSurvey), 6);
    std::string text;
    cells.cellText(text, 3);
    EXPECT_EQ(text.rfind(" 04 - Address: 00:1A:2B:3C:4D:61\n", 0), 0u);
    EXPECT_NE(text.find("Encryption key:off\n          "), std::string::npos);
}

TEST(DirectSurveyRecords, SecurityDecisions) {
    struct Case {
        const char* cell;
        const char* security;
    } cases[] = {
        {" 1\nEncryption key:on\nIE: IEEE 802.11i/WPA2 Version 1\nExtra:wpa_ie=30xx\n", "WPA2"},
        {" 1\nEncryption key:on\nIE: IEEE 802.11i/WPA2 Version 1\nExtra:rsn\n", "WEP"},
        {" 1\nEncryption key:on\nIE: WPA Version 1\nExtra:wpa_ie=30\n", "WPA"},
        {" 1\nEncryption key:on\nIE: WPA2 Version 1\nExtra:wpa_ie=DD01\n", "WPA/WPA2"},
        {" 1\nEncryption key:on\nExtra:none\n", "WEP"},
        {" 1\nEncryption key:on\n", "WEP"},
        {" 1\nEncryption key:off\nIE: WPA Version 1\nExtra:wpa_ie=DD\n", "None"},
        {" 1\nEncryption key:On\nIE: WPA Version 1\n", "None"},
        {" 1\nIE: WPA Version 1\n", "None"},
    };
    for (const Case& c : cases) {
        ISDCells cells;
        ASSERT_EQ(parseText(cells, std::string("Cell") + c.cell), 1);
        EXPECT_EQ(recordOf(cells, 0).security, c.security) << c.cell;
    }
}

TEST(DirectSurveyRecords, MissingLabelsGiveEmptyOrFixedValues) {
    ISDCells cells;
    ASSERT_EQ(parseText(cells, "Cell 01 - nothing else"), 1);
    expectRecord(recordOf(cells, 0), "", "", "", "99", "None", "");
}

// ---- forwarding format records ------------------------------------------------

TEST(ForwardedSurveyRecords, RealisticListingWithLineNoise) {
    std::vector<uint8_t> bytes = test::forwardedSurveyBytes();
    PSSDCells cells;
    ASSERT_EQ(cells.parse(bytes.data(), static_cast<int>(bytes.size())), 6);
    expectRecord(recordOf(cells, 0), "HomeNet", "6", "Managed", "45", "WPA2", "on");
    expectRecord(recordOf(cells, 1), "Office", "11", "Managed", "67", "WPA/WPA2", "on");
    expectRecord(recordOf(cells, 2), "OldWep", "1", "Managed", "80", "WEP", "on");
    expectRecord(recordOf(cells, 3), "Cafe", "3", "Managed", "99", "None", "off");
    expectRecord(recordOf(cells, 4), "PeerLink", "9", "Ad-Hoc", "85", " Unknown: DD0E", "on");
    expectRecord(recordOf(cells, 5), "", "4", "Managed", "55", "WPA", "on");
}

TEST(ForwardedSurveyRecords, CellTextIsTheCleanedText) {
    std::vector<uint8_t> bytes = test::forwardedSurveyBytes();
    PSSDCells cells;
    ASSERT_EQ(cells.parse(bytes.data(), static_cast<int>(bytes.size())), 6);
    std::string text;
    cells.cellText(text, 0);
    EXPECT_EQ(text.rfind(" 01 - Address: 00:1A:2B:3C:4D:5E\nESSID:\"HomeNet\"\nMode:Master\n", 0),
              0u);
    for (uint8_t c : text)
        EXPECT_TRUE(c != 0 && c < 127);
}

TEST(ForwardedSurveyRecords, SecurityDecisions) {
    struct Case {
        const char* cell;
        const char* security;
    } cases[] = {
        {" 1\nEncryption key:off\nIE: WPA2\nExtra:wpa_ie=DD\n", "None"},
        {" 1\nEncryption key:on\nExtra:wpa_ie=30\n", "WEP"},
        {" 1\nEncryption key:on\nIE:WPA2 x\nExtra:wpa_ie=DD\n", "WPA/WPA2"},
        {" 1\nEncryption key:on\nIE:WPA2 x\nExtra:wpa_ie=30\n", "WPA2"},
        // WPA2 without the RSN element: neither WPA-only nor WEP; the IE stays.
        {" 1\nEncryption key:on\nIE:WPA2 x\nExtra:wpa_ie=3000\n", "WPA2 x"},
        {" 1\nEncryption key:on\nIE:WPA x\nExtra:wpa_ie=30\n", "WPA"},
        {" 1\nEncryption key:on\nIE:WEP128\n", "WEP"},
        {" 1\nEncryption key:on\nIE:Unknown\n", "Unknown"},
        {" 1\nEncryption key:maybe\nIE:WPA x\n", "WPA x"},
        {" 1\nIE:WPA x\n", "WPA x"},
    };
    for (const Case& c : cases) {
        PSSDCells cells;
        ASSERT_EQ(parseText(cells, std::string("Cell") + c.cell), 1);
        EXPECT_EQ(recordOf(cells, 0).security, c.security) << c.cell;
    }
}

TEST(ForwardedSurveyRecords, SignalFallsBackToEqualsFormThenNinetyNine) {
    PSSDCells cells;
    ASSERT_EQ(parseText(cells,
                        "Cell 1 Quality=1 Signal level=-58 dBm\n"
                        "Cell 2 Quality=1\n"
                        "Cell 3 Signal level:-40 dBm Signal level=-58 dBm\n"),
              3);
    EXPECT_EQ(recordOf(cells, 0).signal, "58");
    EXPECT_EQ(recordOf(cells, 1).signal, "99");
    EXPECT_EQ(recordOf(cells, 2).signal, "40");
}

TEST(ForwardedSurveyRecords, OnlyExactMasterBecomesManaged) {
    PSSDCells cells;
    ASSERT_EQ(parseText(cells, "Cell 1 Mode:Master\nCell 2 Mode:Masters\nCell 3 Mode:Ad-Hoc\n"), 3);
    EXPECT_EQ(recordOf(cells, 0).mode, "Managed");
    EXPECT_EQ(recordOf(cells, 1).mode, "Masters");
    EXPECT_EQ(recordOf(cells, 2).mode, "Ad-Hoc");
}

TEST(ForwardedSurveyRecords, ChannelIsReadFromTheFrequencyParenthesis) {
    PSSDCells cells;
    ASSERT_EQ(parseText(cells, "Cell 1 Frequency:5.18 GHz (Channel 36)\n"), 1);
    EXPECT_EQ(recordOf(cells, 0).channel, "36");
}

// ---- hostile bytes ----------------------------------------------------------

TEST(SurveyParsersOnTruncatedText, EveryPrefixOfBothListingsParses) {
    std::vector<uint8_t> forwarded = test::forwardedSurveyBytes();
    std::vector<uint8_t> direct = bytesOf(test::kDirectSurvey);
    for (const std::vector<uint8_t>* source : {&forwarded, &direct}) {
        for (size_t cut = 0; cut <= source->size(); ++cut) {
            // An exact-size copy so that a read past the end is caught.
            std::unique_ptr<uint8_t[]> exact(new uint8_t[cut + 1]);
            std::copy(source->begin(), source->begin() + static_cast<long>(cut), exact.get());
            PSSDCells pssd;
            ISDCells isd;
            int a = pssd.parse(exact.get(), static_cast<int>(cut));
            int b = isd.parse(exact.get(), static_cast<int>(cut));
            for (int i = 0; i < a; ++i)
                recordOf(pssd, i);
            for (int i = 0; i < b; ++i)
                recordOf(isd, i);
            EXPECT_LE(a, 6);
            EXPECT_LE(b, 6);
        }
    }
}

}  // namespace
}  // namespace qor
