#include "command/selftest.h"

#include <gtest/gtest.h>

#include "testing/log_capture.h"

namespace tessival {
namespace {

std::string emitted(const Answer& a) {
    CapturedOutput c;
    c.out.emit(a);
    return c.answerText();
}

TEST(Selftest, EveryCheckPassesOnThisBuild) {
    const std::vector<std::string> failures = selftestFailures();
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}

TEST(Selftest, PassVerdictIsOneExactLine) {
    EXPECT_EQ(emitted(selftestVerdict({})), "{\"ok\":true,\"selftest\":\"pass\"}\n");
}

TEST(Selftest, FailVerdictListsMessagesInOrder) {
    const Answer a = selftestVerdict({"hue gray not -1", "slideText='x'"});
    EXPECT_EQ(a, (Answer{{"ok", false},
                         {"selftest", "fail"},
                         {"failures", {"hue gray not -1", "slideText='x'"}}}));
    const std::string line = emitted(a);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
}

}  // namespace
}  // namespace tessival
