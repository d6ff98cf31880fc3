#include "audio_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "testing/fake_io.h"
#include "testing/test_buffers.h"

namespace sondrel {
namespace {

using ::testing::ElementsAre;
using testing::FakeIo;
using ::testing::HasSubstr;
using testing::monoBlock;
using testing::stereoBlock;

constexpr std::int32_t RATE = 48000;
constexpr StreamId FIRST = 1;
constexpr StreamId SECOND = 2;

MediaTime frameTime(std::int64_t frame) { return {frame, RATE}; }

class AudioWriterTest : public ::testing::Test {
  protected:
    FakeIo io;
    AudioWriter writer{io, io.wall - std::chrono::milliseconds(120)};

    void deliver(StreamId id, const testing::TestBlock& block) {
        writer.streamDidOutput(id, block.view());
    }
    // Host clock `seconds` after the first buffer's presentation time.
    void setHostAfter(MediaTime pts, std::int64_t nanoseconds) {
        io.host = mediaTimeAdd(pts, MediaTime{nanoseconds, 1'000'000'000});
    }
};

TEST_F(AudioWriterTest, FirstBufferWritesHeaderThenSamplesAndLogsFormat) {
    const MediaTime pts = frameTime(480000);
    setHostAfter(pts, 45'000'000);
    deliver(FIRST, stereoBlock(256, 0.5f, 0.25f, pts));

    const std::int64_t wallUs = 1'700'000'000'000'000;
    EXPECT_EQ(io.header(), "AUDIO sr=48000 ch=1 fmt=f32 t0us=" + std::to_string(wallUs - 45'000));
    EXPECT_EQ(io.samples(), std::vector<float>(256, 0.375f));
    EXPECT_THAT(io.logs,
                ElementsAre("[sondrel] format sampleRate=48000 channels=2 float32 interleaved",
                            "[sondrel] first audio buffer +120ms since launch (captured 45ms "
                            "before delivery)",
                            "[sondrel] audio buffers=1 lastFrames=256 totalFrames=256"));
    EXPECT_EQ(writer.framesEmitted(), 256);
}

TEST_F(AudioWriterTest, ImplausibleLagCountsAsZero) {
    const std::int64_t wallUs = 1'700'000'000'000'000;
    struct Case {
        const char* name;
        std::int64_t hostMinusPtsNs;
    };
    for (const Case& c : {Case{"31 s old", 31'000'000'000}, Case{"in the future", -5'000'000}}) {
        FakeIo fresh;
        AudioWriter w(fresh, fresh.wall);
        const MediaTime pts = frameTime(48000 * 100);
        fresh.host = mediaTimeAdd(pts, MediaTime{c.hostMinusPtsNs, 1'000'000'000});
        w.streamDidOutput(FIRST, monoBlock(16, 0.1f, pts).view());
        EXPECT_EQ(fresh.header(), "AUDIO sr=48000 ch=1 fmt=f32 t0us=" + std::to_string(wallUs))
            << c.name;
        EXPECT_THAT(fresh.logs, ::testing::Contains(HasSubstr("(captured 0ms before delivery)")))
            << c.name;
    }
}

TEST_F(AudioWriterTest, RestartGapIsFilledWithSilence) {
    struct Case {
        const char* name;
        std::int64_t gapFrames;  // between the old stream's end and the new stream's start
        std::size_t silentFrames;
        const char* line;
    };
    const Case cases[] = {
        {"250 ms", 12000, 12000, "[sondrel] restart gap-pad 250ms (12000 frames)"},
        {"0.5 ms", 24, 24, "[sondrel] restart gap-pad 0ms (24 frames)"},
        // Frame counts whose seconds do not survive a trip through a double exactly.
        {"27 frames", 27, 27, "[sondrel] restart gap-pad 0ms (27 frames)"},
        {"1.02 s", 48960 + 49, 48960 + 49, "[sondrel] restart gap-pad 1021ms (49009 frames)"},
        {"contiguous", 0, 0, "[sondrel] restart gap-pad 0ms (streams were contiguous)"},
        {"overlap", -480, 0, "[sondrel] restart gap-pad 0ms (streams were contiguous)"},
        {"40 s", 40 * 48000, 0, "[sondrel] restart gap-pad 0ms (streams were contiguous)"},
    };
    for (const Case& c : cases) {
        FakeIo fresh;
        AudioWriter w(fresh, fresh.wall);
        w.adoptStream(FIRST);
        w.streamDidOutput(FIRST, monoBlock(480, 0.5f, frameTime(48000)).view());
        w.beginRestart();
        w.endRestart(true, SECOND);
        w.streamDidOutput(SECOND,
                          monoBlock(100, 0.25f, frameTime(48000 + 480 + c.gapFrames)).view());

        std::vector<float> expected(480, 0.5f);
        expected.insert(expected.end(), c.silentFrames, 0.0f);
        expected.insert(expected.end(), 100, 0.25f);
        EXPECT_EQ(fresh.samples(), expected) << c.name;
        EXPECT_EQ(w.framesEmitted(), static_cast<std::int64_t>(580 + c.silentFrames)) << c.name;
        EXPECT_THAT(fresh.logsStartingWith("[sondrel] restart gap-pad"), ElementsAre(c.line))
            << c.name;
    }
}

TEST_F(AudioWriterTest, RestartBeforeAnyBufferChecksNoGap) {
    writer.beginRestart();
    writer.endRestart(true, SECOND);
    deliver(SECOND, monoBlock(10, 0.1f, frameTime(1000)));
    deliver(SECOND, monoBlock(10, 0.1f, frameTime(5000)));  // a jump, but not after a restart
    EXPECT_TRUE(io.logsStartingWith("[sondrel] restart gap-pad").empty());
    EXPECT_EQ(writer.framesEmitted(), 20);
}

TEST_F(AudioWriterTest, GapCheckFallsOnNewStreamsFirstBufferEvenBeforeRestartEnds) {
    writer.adoptStream(FIRST);
    deliver(FIRST, monoBlock(480, 0.5f, frameTime(0)));
    writer.beginRestart();
    // A late buffer of the stream being replaced keeps the timeline going and leaves the
    // check armed.
    deliver(FIRST, monoBlock(480, 0.5f, frameTime(480)));
    // The new stream delivers while the restart procedure is still building it.
    deliver(SECOND, monoBlock(100, 0.25f, frameTime(960 + 12000)));
    writer.endRestart(true, SECOND);
    deliver(SECOND, monoBlock(100, 0.25f, frameTime(960 + 12100)));

    std::vector<float> expected(960, 0.5f);
    expected.insert(expected.end(), 12000, 0.0f);
    expected.insert(expected.end(), 200, 0.25f);
    EXPECT_EQ(io.samples(), expected);
    EXPECT_THAT(io.logsStartingWith("[sondrel] restart gap-pad"),
                ElementsAre("[sondrel] restart gap-pad 250ms (12000 frames)"));
}

TEST_F(AudioWriterTest, OnlyTheStreamInUseEndsTheProcessWhenItStops) {
    writer.adoptStream(FIRST);

    writer.beginRestart();
    writer.streamDidStop(FIRST, "Connection terminated");  // the stream being replaced
    writer.endRestart(false);
    writer.streamDidStop(SECOND, "Connection terminated");  // a failed attempt's stream
    EXPECT_TRUE(io.exits.empty());
    EXPECT_EQ(io.logs.size(), 2u);

    writer.streamDidStop(FIRST, "Connection terminated");
    EXPECT_THAT(io.exits, ElementsAre(2));
    EXPECT_EQ(io.logs.back(), "[sondrel] stream stopped: Connection terminated (totalFrames=0)");
}

TEST_F(AudioWriterTest, StreamThatStoppedBeforeAdoptionEndsTheProcessWhenAdopted) {
    writer.streamDidStop(FIRST, "Connection terminated");
    EXPECT_TRUE(io.exits.empty());
    writer.adoptStream(FIRST);
    EXPECT_THAT(io.exits, ElementsAre(2));
}

TEST_F(AudioWriterTest, ClosedOutputLogsOnceAndEndsTheProcess) {
    io.failWrites = "Broken pipe";
    deliver(FIRST, monoBlock(10, 0.1f, frameTime(0)));
    deliver(FIRST, monoBlock(10, 0.1f, frameTime(10)));
    EXPECT_THAT(io.exits, ElementsAre(3));
    EXPECT_THAT(io.logsStartingWith("[sondrel] error: "),
                ElementsAre("[sondrel] error: cannot write audio to standard output: Broken pipe"));
    EXPECT_EQ(io.writeCalls, 1);
    EXPECT_EQ(writer.framesEmitted(), 0);
}

TEST_F(AudioWriterTest, ConcurrentCallbacksWriteWholeBuffersInTimelineOrder) {
    writer.adoptStream(FIRST);
    deliver(FIRST, monoBlock(64, 1.0f, frameTime(0)));
    writer.beginRestart();
    writer.endRestart(true, SECOND);
    constexpr int THREADS = 4;
    constexpr int PER_THREAD = 200;
    constexpr std::size_t FRAMES = 64;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < PER_THREAD; ++i) {
                // Each buffer carries a distinct value; the timeline position is arbitrary.
                const float value = static_cast<float>(t * PER_THREAD + i + 2);
                writer.streamDidOutput(SECOND,
                                       monoBlock(FRAMES, value, frameTime(64 + 4800)).view());
            }
        });
    }
    for (auto& thread : threads) thread.join();

    const std::vector<float> samples = io.samples();
    // 64 samples of the first buffer, one 4800-frame gap, then whole buffers.
    ASSERT_EQ(samples.size(), 64 + 4800 + THREADS * PER_THREAD * FRAMES);
    for (std::size_t i = 64; i < 64 + 4800; ++i) ASSERT_EQ(samples[i], 0.0f) << i;
    for (std::size_t start = 64 + 4800; start < samples.size(); start += FRAMES) {
        for (std::size_t i = 1; i < FRAMES; ++i) {
            ASSERT_EQ(samples[start + i], samples[start]) << "buffer torn at " << start + i;
        }
    }
    EXPECT_EQ(writer.framesEmitted(), static_cast<std::int64_t>(samples.size()));
}

}  // namespace
}  // namespace sondrel
