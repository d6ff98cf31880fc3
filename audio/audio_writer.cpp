#include "audio_writer.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "downmix.h"

namespace sondrel {
namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

// The whole frames per second of `format`, or nullopt when it cannot serve as a timescale.
std::optional<std::int32_t> wholeRate(const AudioFormat& format) {
    const double rate = std::trunc(format.sampleRate);
    if (!std::isfinite(rate) || rate < 1 || rate > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rate);
}

// True when `span` is a valid time above zero (or at zero, if `allowZero`) and below
// MAX_PLAUSIBLE_GAP_SECONDS.
bool withinPlausibleSpan(MediaTime span, bool allowZero) {
    if (!span.valid() || span.value < 0 || (span.value == 0 && !allowZero)) return false;
    const auto seconds = mediaTimeInUnits(span, 1);
    return seconds && *seconds < MAX_PLAUSIBLE_GAP_SECONDS;
}

const char* downmixFailureLine(DownmixOutcome outcome) {
    switch (outcome) {
        case DownmixOutcome::emptyList:
            return "[sondrel] empty/nil buffer list\n";
        case DownmixOutcome::interleavedNoFrames:
            return "[sondrel] interleaved buffer has 0 frames\n";
        case DownmixOutcome::nonInterleavedNoFrames:
            return "[sondrel] non-interleaved buffer has 0 frames\n";
        case DownmixOutcome::monoNoFrames:
            return "[sondrel] mono buffer has 0 frames\n";
        case DownmixOutcome::ok:
            break;
    }
    return "";
}

}  // namespace

AudioWriter::AudioWriter(SidecarIo& io, WallTime launch) : io_(io), launch_(launch) {}

void AudioWriter::beginRestart() {
    std::lock_guard guard(lock_);
    restarting_ = true;
    // Armed now, not when the new stream is adopted: the new stream may deliver before
    // the restart procedure learns that it started.
    awaitingRestartGap_ = true;
    gapExemptStream_ = activeStream_;
}

void AudioWriter::endRestart(bool succeeded, StreamId newStream) {
    std::unique_lock guard(lock_);
    restarting_ = false;
    if (succeeded) adoptLocked(newStream, guard);
}

void AudioWriter::adoptStream(StreamId id) {
    std::unique_lock guard(lock_);
    adoptLocked(id, guard);
}

void AudioWriter::adoptLocked(StreamId id, std::unique_lock<std::mutex>& guard) {
    activeStream_ = id;
    if (stoppedStreams_.count(id) == 0) return;
    // It stopped between starting and being adopted; its stop line is already logged.
    guard.unlock();
    io_.exitProcess(2);
}

std::int64_t AudioWriter::framesEmitted() const {
    std::lock_guard guard(lock_);
    return totalFramesEmitted_;
}

bool AudioWriter::writeOrExit(const void* data, std::size_t size) {
    if (size == 0) return true;
    const auto error = io_.writeOut(data, size);
    if (!error) return true;
    bool first = false;
    {
        std::lock_guard guard(lock_);
        first = !outputFailed_;
        outputFailed_ = true;
    }
    if (first) {
        io_.logErr("[sondrel] error: cannot write audio to standard output: " + *error + "\n");
        io_.exitProcess(3);
    }
    return false;
}

void AudioWriter::writeHeader(std::int64_t rate, MediaTime presentationTime) {
    // How long before delivery the first frame was captured, in microseconds; a lag that
    // is negative, 30 s or more, or not a time at all counts as none.
    const MediaTime lag = mediaTimeSubtract(io_.hostNow(), presentationTime);
    std::int64_t lagUs = 0;
    if (withinPlausibleSpan(lag, /*allowZero=*/true))
        lagUs = mediaTimeInUnits(lag, 1'000'000).value_or(0);
    const WallTime now = io_.wallNow();
    using std::chrono::duration_cast;
    const std::int64_t nowUs =
        duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const std::int64_t startUs = nowUs - lagUs;
    const std::string header =
        "AUDIO sr=" + std::to_string(rate) + " ch=1 fmt=f32 t0us=" + std::to_string(startUs) + "\n";
    writeOrExit(header.data(), header.size());
    const auto sinceLaunch = duration_cast<std::chrono::milliseconds>(now - launch_).count();
    io_.logErr("[sondrel] first audio buffer +" + std::to_string(sinceLaunch) +
               "ms since launch (captured " + std::to_string(lagUs / 1000) +
               "ms before delivery)\n");
}

void AudioWriter::streamDidOutput(StreamId id, const SampleBuffer& buffer) noexcept {
    if (buffer.type != OutputType::audio || !buffer.format) return;
    const AudioFormat& format = *buffer.format;
    const auto rate = wholeRate(format);
    if (!rate) return;
    const std::uint32_t channels = format.channelsPerFrame > 1 ? format.channelsPerFrame : 1;

    // One buffer at a time from here on, so that each buffer's silence and samples leave
    // together and in timeline order.
    std::lock_guard order(outputOrder_);
    bool needHeader = false;
    {
        std::lock_guard guard(lock_);
        if (outputFailed_) return;
        if (!loggedFormat_) {
            io_.logErr("[sondrel] asbd sampleRate=" + std::to_string(*rate) +
                       " channels=" + std::to_string(channels) + " float=" +
                       boolText(format.formatFlags & FORMAT_FLAG_FLOAT) + " nonInterleaved=" +
                       boolText(format.formatFlags & FORMAT_FLAG_NON_INTERLEAVED) +
                       " bitsPerChannel=" + std::to_string(format.bitsPerChannel) +
                       " bytesPerFrame=" + std::to_string(format.bytesPerFrame) + "\n");
            loggedFormat_ = true;
        }
        needHeader = !headerWritten_;
        headerWritten_ = true;
    }
    // Every audio buffer holds outputOrder_, so no sample can overtake the header.
    if (needHeader) writeHeader(*rate, buffer.presentationTime);
    {
        std::lock_guard guard(lock_);
        if (outputFailed_) return;
    }

    if (buffer.bufferListStatus != 0) {
        io_.logErr("[sondrel] GetAudioBufferList failed status=" +
                   std::to_string(buffer.bufferListStatus) + "\n");
        return;
    }
    const DownmixOutcome outcome = downmixToMono(format, buffer.buffers, mono_);
    if (outcome != DownmixOutcome::ok) {
        io_.logErr(downmixFailureLine(outcome));
        return;
    }
    const auto frames = static_cast<std::int64_t>(mono_.size());

    bool checkGap = false;
    std::optional<MediaTime> prev;
    {
        std::lock_guard guard(lock_);
        checkGap = awaitingRestartGap_ && id != gapExemptStream_;
        prev = nextExpectedPts_;
        if (checkGap) awaitingRestartGap_ = false;
        nextExpectedPts_ = mediaTimeAdd(buffer.presentationTime, MediaTime{frames, *rate});
    }

    if (checkGap && prev) {
        // Exact frame arithmetic: a float round trip would lose a frame on some gaps.
        const MediaTime gap = mediaTimeSubtract(buffer.presentationTime, *prev);
        std::int64_t pad = 0;
        std::int64_t gapMs = 0;
        if (withinPlausibleSpan(gap, /*allowZero=*/false)) {
            pad = mediaTimeInUnits(gap, *rate).value_or(0);
            gapMs = mediaTimeInUnits(gap, 1000).value_or(0);
        }
        if (pad < 1) {
            io_.logErr("[sondrel] restart gap-pad 0ms (streams were contiguous)\n");
        } else {
            silence_.assign(static_cast<std::size_t>(pad) * sizeof(float), 0);
            if (!writeOrExit(silence_.data(), silence_.size())) return;
            {
                std::lock_guard guard(lock_);
                totalFramesEmitted_ += pad;
            }
            io_.logErr("[sondrel] restart gap-pad " + std::to_string(gapMs) + "ms (" +
                       std::to_string(pad) + " frames)\n");
        }
    }

    if (!writeOrExit(mono_.data(), mono_.size() * sizeof(float))) return;
    std::int64_t count = 0;
    std::int64_t total = 0;
    {
        std::lock_guard guard(lock_);
        count = ++audioBufferCount_;
        total = (totalFramesEmitted_ += frames);
    }
    if (count == 1 || count % PROGRESS_EVERY_BUFFERS == 0) {
        io_.logErr("[sondrel] audio buffers=" + std::to_string(count) + " lastFrames=" +
                   std::to_string(frames) + " totalFrames=" + std::to_string(total) + "\n");
    }
}

void AudioWriter::streamDidStop(StreamId id, std::string_view description) noexcept {
    bool endProcess = false;
    std::int64_t total = 0;
    {
        std::lock_guard guard(lock_);
        stoppedStreams_.insert(id);
        // Only the stream in use may end the process; a stream from a failed restart
        // attempt, or the one a restart is replacing, may not.
        endProcess = !restarting_ && id == activeStream_ && id != NO_STREAM;
        total = totalFramesEmitted_;
    }
    io_.logErr("[sondrel] stream stopped: " + std::string(description) +
               " (totalFrames=" + std::to_string(total) + ")\n");
    if (endProcess) io_.exitProcess(2);
}

}  // namespace sondrel
