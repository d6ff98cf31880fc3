#include "audio_writer.h"

#include <chrono>
#include <string>

#include "downmix.h"

namespace sondrel {
namespace {

// True when `span` is a valid time above zero (or at zero, if `allowZero`) and below
// MAX_PLAUSIBLE_GAP_SECONDS.
bool withinPlausibleSpan(MediaTime span, bool allowZero) {
    if (!span.valid() || span.value < 0 || (span.value == 0 && !allowZero)) return false;
    const auto seconds = mediaTimeInUnits(span, 1);
    return seconds && *seconds < MAX_PLAUSIBLE_GAP_SECONDS;
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
    const Status written = io_.writeOut(data, size);
    if (written.ok()) return true;
    bool first = false;
    {
        std::lock_guard guard(lock_);
        first = !outputFailed_;
        outputFailed_ = true;
    }
    if (first) {
        io_.logErr("[sondrel] error: cannot write audio to standard output: " + written.why() +
                   "\n");
        io_.exitProcess(3);
    }
    return false;
}

bool AudioWriter::writeHeader(std::int64_t rate, MediaTime presentationTime) {
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
    const bool written = writeOrExit(header.data(), header.size());
    const auto sinceLaunch = duration_cast<std::chrono::milliseconds>(now - launch_).count();
    io_.logErr("[sondrel] first audio buffer +" + std::to_string(sinceLaunch) +
               "ms since launch (captured " + std::to_string(lagUs / 1000) +
               "ms before delivery)\n");
    return written;
}

AudioWriter::Plan AudioWriter::planBlock(StreamId id, const AudioBlock& block) {
    std::lock_guard guard(lock_);
    Plan plan;
    if (outputFailed_) {
        plan.skip = true;
        return plan;
    }
    plan.logFormat = !loggedFormat_;
    loggedFormat_ = true;
    plan.writeHeader = !headerWritten_;
    headerWritten_ = true;
    // The block of the stream being replaced keeps the timeline going and leaves the check
    // armed; the first block of any other stream takes it.
    plan.checkGap = awaitingRestartGap_ && id != gapExemptStream_;
    if (plan.checkGap) awaitingRestartGap_ = false;
    plan.expected = nextExpectedPts_;
    nextExpectedPts_ =
        mediaTimeAdd(block.presentationTime, MediaTime{static_cast<std::int64_t>(block.frames),
                                                       static_cast<std::int32_t>(block.rate)});
    return plan;
}

void AudioWriter::logFormat(const AudioBlock& block) {
    io_.logErr("[sondrel] format sampleRate=" + std::to_string(block.rate) +
               " channels=" + std::to_string(block.channels) + " float32 interleaved\n");
}

std::optional<std::int64_t> AudioWriter::padRestartGap(const AudioBlock& block,
                                                       MediaTime expected) {
    // Exact frame arithmetic: a float round trip would lose a frame on some gaps.
    const MediaTime gap = mediaTimeSubtract(block.presentationTime, expected);
    std::int64_t pad = 0;
    std::int64_t gapMs = 0;
    if (withinPlausibleSpan(gap, /*allowZero=*/false)) {
        pad = mediaTimeInUnits(gap, block.rate).value_or(0);
        gapMs = mediaTimeInUnits(gap, 1000).value_or(0);
    }
    if (pad < 1) {
        io_.logErr("[sondrel] restart gap-pad 0ms (streams were contiguous)\n");
        return 0;
    }
    silence_.assign(static_cast<std::size_t>(pad), 0.0f);
    if (!writeOrExit(silence_.data(), silence_.size() * sizeof(float))) return std::nullopt;
    io_.logErr("[sondrel] restart gap-pad " + std::to_string(gapMs) + "ms (" +
               std::to_string(pad) + " frames)\n");
    return pad;
}

void AudioWriter::countWritten(std::int64_t silence, std::int64_t frames) {
    std::int64_t count = 0;
    std::int64_t total = 0;
    {
        std::lock_guard guard(lock_);
        count = ++audioBufferCount_;
        total = (totalFramesEmitted_ += silence + frames);
    }
    if (count == 1 || count % PROGRESS_EVERY_BUFFERS == 0) {
        io_.logErr("[sondrel] audio buffers=" + std::to_string(count) + " lastFrames=" +
                   std::to_string(frames) + " totalFrames=" + std::to_string(total) + "\n");
    }
}

void AudioWriter::streamDidOutput(StreamId id, const AudioBlock& block) noexcept {
    if (block.frames == 0 || block.rate == 0 || block.data == nullptr) return;
    // One block at a time from here on, so that each block's silence and samples leave
    // together, in timeline order, and never before the header.
    std::lock_guard order(outputOrder_);
    const Plan plan = planBlock(id, block);
    if (plan.skip) return;
    if (plan.logFormat) logFormat(block);
    if (plan.writeHeader && !writeHeader(block.rate, block.presentationTime)) return;

    std::int64_t silence = 0;
    if (plan.checkGap && plan.expected) {
        const auto padded = padRestartGap(block, *plan.expected);
        if (!padded) return;
        silence = *padded;
    }
    downmixToMono(block.data, block.frames, block.channels, mono_);
    if (!writeOrExit(mono_.data(), mono_.size() * sizeof(float))) return;
    countWritten(silence, static_cast<std::int64_t>(block.frames));
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
