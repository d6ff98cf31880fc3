#include "base/output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <csignal>
#include <unistd.h>

namespace tessival {
namespace {

// Reads everything written to a pipe by `fn`.
template <typename Fn>
std::string captureWrites(Fn fn) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fn(fds[1]);
    close(fds[1]);
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    return got;
}

TEST(Emit, WritesCompactObjectAndLineFeed) {
    const std::string got = captureWrites([](int fd) {
        Output out(fd, fd);
        out.emit(Answer{{"ok", false}, {"error", "unknown command"}});
    });
    EXPECT_EQ(got, "{\"error\":\"unknown command\",\"ok\":false}\n");
}

TEST(Emit, EscapesSolidusAndKeepsBase64OnOneLine) {
    const std::string got = captureWrites([](int fd) {
        Output out(fd, fd);
        out.emit(Answer{{"ring_crop", "iVBO/w+=="}});
    });
    EXPECT_EQ(got, "{\"ring_crop\":\"iVBO\\/w+==\"}\n");
}

TEST(Emit, UnencodableAnswersBecomeTheFallbackLine) {
    const Answer cases[] = {
        Answer{{"ok", true}, {"score", std::numeric_limits<double>::quiet_NaN()}},
        Answer{{"ok", true}, {"rect", {0.1, std::numeric_limits<double>::infinity()}}},
        Answer{{"ok", true}, {"names", {{{"text", std::string("bad \xC3\x28 utf8")}}}}},
    };
    for (const Answer& a : cases) {
        const std::string got = captureWrites([&](int fd) {
            Output out(fd, fd);
            out.emit(a);
        });
        EXPECT_EQ(got, "{\"ok\":false,\"error\":\"json encode failed\"}\n");
        EXPECT_EQ(got.size(), 42u);
    }
}

TEST(Log, OneLinePerCall) {
    const std::string got = captureWrites([](int fd) {
        Output out(fd, fd);
        out.log("[tessival] ready");
        out.log("[ring] no blob");
    });
    EXPECT_EQ(got, "[tessival] ready\n[ring] no blob\n");
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
