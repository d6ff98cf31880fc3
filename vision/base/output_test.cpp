#include "base/output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <csignal>
#include <unistd.h>

#include "testing/log_capture.h"

namespace tessival {
namespace {

TEST(Emit, WritesCompactObjectAndLineFeed) {
    CapturedOutput c;
    c.out.emit(Answer{{"ok", false}, {"error", "unknown command"}});
    EXPECT_EQ(c.answerText(), "{\"error\":\"unknown command\",\"ok\":false}\n");
}

TEST(Emit, EscapesSolidusAndKeepsBase64OnOneLine) {
    CapturedOutput c;
    c.out.emit(Answer{{"ring_crop", "iVBO/w+=="}});
    EXPECT_EQ(c.answerText(), "{\"ring_crop\":\"iVBO\\/w+==\"}\n");
}

TEST(Emit, UnencodableAnswersBecomeTheFallbackLine) {
    const Answer cases[] = {
        Answer{{"ok", true}, {"score", std::numeric_limits<double>::quiet_NaN()}},
        Answer{{"ok", true}, {"rect", {0.1, std::numeric_limits<double>::infinity()}}},
        Answer{{"ok", true}, {"names", {{{"text", std::string("bad \xC3\x28 utf8")}}}}},
    };
    for (const Answer& a : cases) {
        CapturedOutput c;
        c.out.emit(a);
        const std::string got = c.answerText();
        EXPECT_EQ(got, "{\"ok\":false,\"error\":\"json encode failed\"}\n");
        EXPECT_EQ(got.size(), 42u);
    }
}

TEST(Log, OneLinePerCall) {
    CapturedOutput c;
    c.out.log("[tessival] ready");
    c.out.log("[ring] no blob");
    EXPECT_EQ(c.logText(), "[tessival] ready\n[ring] no blob\n");
}

TEST(Emit, ClosedReaderIsNoticed) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    Output out(fds[1], fds[1]);
    out.emit(Answer{{"ok", true}});
    EXPECT_TRUE(out.answersClosed());
    close(fds[1]);
}

}  // namespace
}  // namespace tessival
