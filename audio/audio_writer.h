#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "audio_source.h"
#include "media_time.h"
#include "sidecar_io.h"

namespace sondrel {

// Lags and restart gaps at or beyond this many seconds are treated as bogus.
inline constexpr std::int64_t MAX_PLAUSIBLE_GAP_SECONDS = 30;
// A progress line is logged after the first audio buffer and every this many after it.
inline constexpr std::int64_t PROGRESS_EVERY_BUFFERS = 50;

// Owns standard output: writes the "AUDIO sr=…" header once, then every audio buffer
// down-mixed to mono little-endian float32, with silence for the time a restart lost so
// the sample clock stays continuous. As the sink of every capture stream it also ends the
// process (status 2) when the stream in use stops on its own outside a restart.
class AudioWriter final : public StreamSink {
  public:
    AudioWriter(SidecarIo& io, WallTime launch);

    // A restart begins: stop reports no longer end the process, and the first buffer of
    // any stream other than the one in use now gets the gap check.
    void beginRestart();
    // A restart ends; on success `newStream` becomes the stream in use.
    void endRestart(bool succeeded, StreamId newStream = NO_STREAM);
    // Makes `id` the stream in use. If it already stopped on its own, the process ends
    // with status 2.
    void adoptStream(StreamId id);
    // Frames written so far, silence included.
    std::int64_t framesEmitted() const;

    void streamDidOutput(StreamId id, const AudioBlock& block) noexcept override;
    void streamDidStop(StreamId id, std::string_view description) noexcept override;

  private:
    // What one block needs done, decided under one lock.
    struct Plan {
        bool skip = false;  // the output already failed
        bool logFormat = false;
        bool writeHeader = false;
        bool checkGap = false;
        std::optional<MediaTime> expected;  // where the timeline stood before this block
    };
    Plan planBlock(StreamId id, const AudioBlock& block);
    void logFormat(const AudioBlock& block);
    bool writeHeader(std::int64_t rate, MediaTime presentationTime);
    // Writes the silence a restart lost before `block`; the frames written, or nullopt when
    // the output failed.
    std::optional<std::int64_t> padRestartGap(const AudioBlock& block, MediaTime expected);
    void countWritten(std::int64_t silence, std::int64_t frames);
    // Writes to standard output; on failure logs once and ends the process. False then.
    bool writeOrExit(const void* data, std::size_t size);
    void adoptLocked(StreamId id, std::unique_lock<std::mutex>& lock);

    SidecarIo& io_;
    const WallTime launch_;

    // Guards the flags and counters below.
    mutable std::mutex lock_;
    bool headerWritten_ = false;
    std::int64_t audioBufferCount_ = 0;
    std::int64_t totalFramesEmitted_ = 0;
    bool loggedFormat_ = false;
    bool restarting_ = false;
    bool awaitingRestartGap_ = false;
    std::optional<MediaTime> nextExpectedPts_;
    StreamId activeStream_ = NO_STREAM;
    // Buffers of this stream do not consume an armed gap check (it is the one being
    // replaced, whose late buffers may still arrive).
    StreamId gapExemptStream_ = NO_STREAM;
    std::set<StreamId> stoppedStreams_;
    bool outputFailed_ = false;

    // Held from the timeline update to the end of a buffer's write, so concurrent callbacks
    // write whole buffers (silence and samples together) in timeline order.
    std::mutex outputOrder_;
    std::vector<float> mono_;  // guarded by outputOrder_; reused between blocks
    std::vector<float> silence_;
};

}  // namespace sondrel
