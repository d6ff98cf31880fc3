#include "sidecar.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/fake_audio_source.h"
#include "testing/fake_io.h"
#include "testing/test_buffers.h"

namespace sondrel {
namespace {

using ::testing::ElementsAre;
using testing::FakeAudioSource;
using testing::FakeIo;
using ::testing::IsEmpty;

class NormalRun : public ::testing::Test {
  protected:
    FakeIo io;
    FakeAudioSource source;
};

// Lines logged by the restart procedure.
std::vector<std::string> restartLogs(const FakeIo& io) {
    std::vector<std::string> lines;
    for (const auto& line : io.logs) {
        if (line.find("restart") != std::string::npos) lines.push_back(line);
    }
    return lines;
}

TEST_F(NormalRun, InputClosedAtOnceStartsAndStopsTheStream) {
    EXPECT_EQ(runNormal(io, source), 0);
    EXPECT_THAT(io.logs,
                ElementsAre("[sondrel] monitoring sink fake1 (source fake1.monitor)",
                            "[sondrel] capturing +0ms", "[sondrel] stopped (totalFrames=0)"));
    EXPECT_THAT(source.stoppedIds, ElementsAre(1u));
    EXPECT_THAT(io.exits, IsEmpty());
}

TEST_F(NormalRun, FailureToBuildTheFirstStreamEndsWithThree) {
    source.makeOutcomes = {"nothing to monitor: the sound server has no default sink"};
    EXPECT_EQ(runNormal(io, source), 3);
    EXPECT_THAT(io.logs, ElementsAre("[sondrel] error: nothing to monitor: the sound server has "
                                     "no default sink"));
    EXPECT_THAT(io.exits, ElementsAre(3));
}

TEST_F(NormalRun, FailedFinalStopEndsWithThreeWithoutTheStoppedLine) {
    source.stopOutcomes = {"server went away"};
    EXPECT_EQ(runNormal(io, source), 3);
    EXPECT_EQ(io.logs.back(), "[sondrel] error: server went away");
    EXPECT_THAT(io.exits, ElementsAre(3));
}

TEST_F(NormalRun, RestartOutcomesAreLoggedInOrder) {
    struct Case {
        const char* name;
        std::deque<std::string> makeOutcomes;  // the first entry is the initial stream
        std::deque<std::string> stopOutcomes;
        std::vector<std::string> lines;
        std::vector<StreamId> stopped;  // stop() calls, the final stop included
    };
    const std::string first = "[sondrel] monitoring sink fake1 (source fake1.monitor)";
    const std::vector<Case> cases = {
        {"all succeed",
         {""},
         {},
         {first, "[sondrel] restart requested (totalFrames=0)",
          "[sondrel] monitoring sink fake2 (source fake2.monitor)", "[sondrel] restart ok in 0ms"},
         {1, 2}},
        {"old stop fails",
         {""},
         {"already stopped"},
         {first, "[sondrel] restart requested (totalFrames=0)",
          "[sondrel] restart: old stopCapture threw already stopped (continuing)",
          "[sondrel] monitoring sink fake2 (source fake2.monitor)", "[sondrel] restart ok in 0ms"},
         {1, 2}},
        {"first rebuild fails",
         {"", "busy"},
         {},
         {first, "[sondrel] restart requested (totalFrames=0)", "[sondrel] restart FAILED: busy",
          "[sondrel] monitoring sink fake3 (source fake3.monitor)",
          "[sondrel] restart recovered on second try"},
         {1, 3}},
        {"both rebuilds fail",
         {"", "busy", "gone"},
         {},
         {first, "[sondrel] restart requested (totalFrames=0)", "[sondrel] restart FAILED: busy"},
         {1, 1}},
    };
    for (const Case& c : cases) {
        FakeIo fresh;
        FakeAudioSource src;
        src.makeOutcomes = c.makeOutcomes;
        src.stopOutcomes = c.stopOutcomes;
        fresh.input = {"RESTART\n"};
        EXPECT_EQ(runNormal(fresh, src), 0) << c.name;
        std::vector<std::string> lines;
        for (const auto& line : fresh.logs) {
            if (line.find("restart") != std::string::npos || line.find("monitoring") == 10)
                lines.push_back(line);
        }
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(src.stoppedIds, c.stopped) << c.name;
        EXPECT_THAT(fresh.exits, IsEmpty()) << c.name;
    }
}

TEST_F(NormalRun, AfterTwoFailedRebuildsTheNextRestartStartsOver) {
    source.makeOutcomes = {"", "busy", "gone", ""};
    io.input = {"RESTART\n", "RESTART\n"};
    EXPECT_EQ(runNormal(io, source), 0);
    EXPECT_THAT(
        restartLogs(io),
        ElementsAre("[sondrel] restart requested (totalFrames=0)", "[sondrel] restart FAILED: busy",
                    "[sondrel] restart requested (totalFrames=0)", "[sondrel] restart ok in 0ms"));
    // The stopped first stream is stopped again by the second restart; stream 4 at the end.
    EXPECT_THAT(source.stoppedIds, ElementsAre(1u, 1u, 4u));
}

TEST_F(NormalRun, StreamOfAFailedAttemptCannotEndTheProcess) {
    source.makeOutcomes = {"", "refused", ""};
    source.whileMaking = [this](StreamSink& sink, StreamId id) {
        // Stream 2 (the failed first attempt) reports its stop while stream 3, the second
        // attempt, is being built: no restart is "in progress" by then.
        if (id == 3) sink.streamDidStop(2, "Connection terminated");
    };
    io.input = {"RESTART\n"};
    EXPECT_EQ(runNormal(io, source), 0);
    EXPECT_THAT(io.exits, IsEmpty());
    EXPECT_THAT(io.logsStartingWith("[sondrel] stream stopped: "),
                ElementsAre("[sondrel] stream stopped: Connection terminated (totalFrames=0)"));
}

TEST_F(NormalRun, StreamInUseStoppingOutsideARestartEndsWithTwo) {
    source.whileMaking = [](StreamSink& sink, StreamId id) {
        sink.streamDidStop(id, "Connection terminated");  // fails as soon as it started
    };
    runNormal(io, source);
    ASSERT_FALSE(io.exits.empty());
    EXPECT_EQ(io.exits.front(), 2);
}

TEST_F(NormalRun, NewStreamsEarlyBuffersGetTheGapCheck) {
    source.whileMaking = [](StreamSink& sink, StreamId id) {
        // Each stream delivers one buffer before makeStream returns; stream 2 starts
        // 0.25 s after stream 1's buffer ended.
        const std::int64_t start = id == 1 ? 0 : 480 + 12000;
        sink.streamDidOutput(id, testing::monoBlock(480, 0.5f, MediaTime{start, 48000}).view());
    };
    io.input = {"RESTART\n"};
    EXPECT_EQ(runNormal(io, source), 0);
    EXPECT_THAT(io.logsStartingWith("[sondrel] restart gap-pad"),
                ElementsAre("[sondrel] restart gap-pad 250ms (12000 frames)"));
    EXPECT_EQ(io.samples().size(), 480u + 12000u + 480u);
    EXPECT_EQ(io.logs.back(), "[sondrel] stopped (totalFrames=12960)");
}

}  // namespace
}  // namespace sondrel
