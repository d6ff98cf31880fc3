#include "command_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/fake_io.h"

namespace sondrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> feedAll(const std::vector<std::string>& reads) {
    CommandDecoder decoder;
    std::vector<std::string> lines;
    for (const auto& bytes : reads) {
        for (auto& line : decoder.feed(bytes)) lines.push_back(std::move(line));
    }
    return lines;
}

TEST(CommandDecoder, SplitsLinesAcrossAndWithinReads) {
    EXPECT_THAT(feedAll({"RES", "TART\n"}), ElementsAre("RESTART"));
    EXPECT_THAT(feedAll({"RESTART\nRESTART\n"}), ElementsAre("RESTART", "RESTART"));
    EXPECT_THAT(feedAll({"RESTART\nRESTA"}), ElementsAre("RESTART"));
    EXPECT_THAT(feedAll({"\n\n"}), ElementsAre("", ""));
}

TEST(CommandDecoder, CrLfEndsALineButALoneCrIsKept) {
    EXPECT_THAT(feedAll({"RESTART\r\n"}), ElementsAre("RESTART"));
    EXPECT_THAT(feedAll({"RESTART\r", "\n"}), ElementsAre("RESTART"));
    EXPECT_THAT(feedAll({"A\rB\n"}), ElementsAre("A\rB"));
    EXPECT_THAT(feedAll({"X\r\r\n"}), ElementsAre("X\r"));
}

TEST(CommandDecoder, DropsOnlyTheInvalidBytes) {
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"invalid bytes before a command", {"\xff\xfeRESTART\n"}, {"RESTART"}},
        {"invalid byte inside a read of two lines",
         {"RESTART\n\x80\nRESTART\n"},
         {"RESTART", "", "RESTART"}},
        {"truncated sequence followed by ASCII", {"\xe2\x82RESTART\n"}, {"RESTART"}},
        {"two-byte character split across reads", {"caf\xc3", "\xa9\n"}, {"caf\xc3\xa9"}},
        {"four-byte character split three ways",
         {"\xf0\x9f", "\x8e", "\xb5!\n"},
         {"\xf0\x9f\x8e\xb5!"}},
        {"overlong encoding", {"\xc0\xafRESTART\n"}, {"RESTART"}},
    };
    for (const Case& c : cases) EXPECT_EQ(feedAll(c.reads), c.lines) << c.name;
}

TEST(CommandDecoder, PartialLineOverTheLimitIsDroppedAfterItsRead) {
    EXPECT_THAT(feedAll({std::string(5000, 'x'), "RESTART\n"}), ElementsAre("RESTART"));
    // The limit is applied only after complete lines are taken out.
    const auto lines = feedAll({std::string(4000, 'y'), std::string(200, 'y') + "\n"});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 4200u);
    // Exactly at the limit the text is kept.
    EXPECT_EQ(feedAll({std::string(4096, 'z'), "\n"}).at(0).size(), 4096u);
    // Characters, not bytes, are counted: 3000 two-byte characters stay.
    std::string wide;
    for (int i = 0; i < 3000; ++i) wide += "\xc3\xa9";
    EXPECT_EQ(feedAll({wide, "\n"}).at(0).size(), 6000u);
}

TEST(NormalizeCommand, TrimsSpacesAndTabsAndUpperCases) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"restart", "RESTART"},
        {"Restart", "RESTART"},
        {"   RESTART\t", "RESTART"},
        {"RESTART now", "RESTART NOW"},
        {"\xc2\xa0restart\xe3\x80\x80", "RESTART"},  // no-break and ideographic spaces
        {"stra\xc3\x9f"
         "e",
         "STRASSE"},
        {" \t ", ""},
        {"\rRESTART", "\rRESTART"},  // CR is not white space here
    };
    for (const Case& c : cases) EXPECT_EQ(normalizeCommand(c.in), c.out) << c.in;
}

TEST(ReadCommands, RunsRestartsInOrderAndLogsUnknownLines) {
    testing::FakeIo io;
    io.input = {"restart\n  \nhello\nRESTART now\n", "RES", "TART\n", "\t\n", "RESTART"};
    std::vector<std::size_t> restartsAtLog;
    readCommands(io, [&] { restartsAtLog.push_back(io.logs.size()); });
    // The second restart comes after the unknown lines of the same read: strictly in order.
    EXPECT_THAT(restartsAtLog, ElementsAre(0u, 2u));
    EXPECT_THAT(io.logs, ElementsAre("[sondrel] unknown command HELLO",
                                     "[sondrel] unknown command RESTART NOW"));
    EXPECT_THAT(io.out, IsEmpty());
}

}  // namespace
}  // namespace sondrel
