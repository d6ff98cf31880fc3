#include "audio_source_pulse.h"

#include <pulse/error.h>
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

namespace sondrel {
namespace {

constexpr std::uint32_t RATE = 48000;
constexpr std::uint8_t CHANNELS = 2;
constexpr std::uint32_t FRAME_BYTES = CHANNELS * sizeof(float);
// Smaller fragments cost wake-ups; larger ones arrive in bursts and add delay.
constexpr pa_usec_t FRAGMENT_USEC = 20'000;
// A frozen server never answers, so every wait has its own limit.
constexpr pa_usec_t CONNECT_TIMEOUT_USEC = 5'000'000;
constexpr pa_usec_t REQUEST_TIMEOUT_USEC = 3'000'000;

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Nanoseconds on the monotonic clock as a frame index at `rate`, without overflow.
std::int64_t nsToFrames(std::int64_t ns, std::uint32_t rate) {
    const std::int64_t seconds = ns / 1'000'000'000;
    const std::int64_t rest = ns % 1'000'000'000;
    return seconds * rate + rest * rate / 1'000'000'000;
}

class MainLoopLock {
  public:
    explicit MainLoopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    ~MainLoopLock() { pa_threaded_mainloop_unlock(loop_); }
    MainLoopLock(const MainLoopLock&) = delete;
    MainLoopLock& operator=(const MainLoopLock&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

struct Timer {
    pa_threaded_mainloop* loop = nullptr;
    bool expired = false;
};

void onTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* timer = static_cast<Timer*>(userdata);
    timer->expired = true;
    pa_threaded_mainloop_signal(timer->loop, 0);
}

// Owners of the client library's objects, each released the one way it must be.
struct ContextRelease {
    void operator()(pa_context* c) const {
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};
using ContextHandle = std::unique_ptr<pa_context, ContextRelease>;

// Detaches the callbacks first, so that nothing reaches the stream's owner afterwards.
struct StreamRelease {
    void operator()(pa_stream* s) const {
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_read_callback(s, nullptr, nullptr);
        pa_stream_set_moved_callback(s, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s))) pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};
using StreamHandle = std::unique_ptr<pa_stream, StreamRelease>;

struct LoopRelease {
    void operator()(pa_threaded_mainloop* loop) const {
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
};
using LoopHandle = std::unique_ptr<pa_threaded_mainloop, LoopRelease>;

// A time-out on the main loop, freed when the wait it limits is over.
class TimeEvent {
  public:
    TimeEvent(pa_threaded_mainloop* loop, pa_time_event* event) : loop_(loop), event_(event) {}
    ~TimeEvent() {
        if (event_ != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(event_);
    }
    TimeEvent(const TimeEvent&) = delete;
    TimeEvent& operator=(const TimeEvent&) = delete;

  private:
    pa_threaded_mainloop* loop_;
    pa_time_event* event_;
};

// Holds one reference to a request and cancels it if it is still running.
class Operation {
  public:
    explicit Operation(pa_operation* op) : op_(op) {}
    ~Operation() {
        if (op_ == nullptr) return;
        if (pa_operation_get_state(op_) == PA_OPERATION_RUNNING) pa_operation_cancel(op_);
        pa_operation_unref(op_);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    explicit operator bool() const { return op_ != nullptr; }

  private:
    pa_operation* op_;
};

// What a capture records: the default sink and its monitor source.
struct MonitorTarget {
    std::string sink;
    std::string source;
};

struct ConnectedSource {
    std::string name;
    std::uint32_t monitorOfSink = PA_INVALID_INDEX;
};

}  // namespace

// One record stream and what its callbacks need. Touched only under the main-loop lock.
struct PulseStream {
    PulseAudioSource::Impl* owner = nullptr;
    StreamHandle stream;
    StreamId id = NO_STREAM;
    StreamSink* sink = nullptr;
    bool ready = false;     // connected; from now on a failure is reported to the sink
    bool reported = false;  // its stop was reported
    bool moved = false;     // the server moved it off the checked source: deliver nothing
    bool anchored = false;
    std::int64_t anchorFrame = 0;  // frame index on the monotonic clock of its first frame
    std::int64_t framesDelivered = 0;
    std::uint32_t rate = RATE;
    std::vector<char> zeros;  // stands in for a hole in the stream
    std::string description;
};

struct PulseAudioSource::Impl {
    // A request's reply state; callbacks call finish() once the answer is complete.
    struct Pending {
        Impl* self;
        bool done = false;
        void finish() {
            done = true;
            pa_threaded_mainloop_signal(self->loop, 0);
        }
    };

    LoopHandle loopHandle;
    pa_threaded_mainloop* loop = nullptr;  // loopHandle's, for the callbacks
    ContextHandle contextHandle;
    pa_context* context = nullptr;  // contextHandle's
    StreamId nextId = 1;
    std::vector<PulseStream*> live;

    static std::string errorOf(pa_context* c) {
        return pa_strerror(c != nullptr ? pa_context_errno(c) : PA_ERR_UNKNOWN);
    }
    std::string contextError() const { return errorOf(context); }

    // Waits (lock held) until `done` holds or `timeout` passes on `c`; returns `done()`.
    template <typename Done>
    bool waitFor(pa_context* c, Done done, pa_usec_t timeout) {
        Timer timer{loop, false};
        const TimeEvent event(
            loop, pa_context_rttime_new(c, pa_rtclock_now() + timeout, &onTimer, &timer));
        while (!done() && !timer.expired) pa_threaded_mainloop_wait(loop);
        return done();
    }

    void dropContext() {
        contextHandle.reset();
        context = nullptr;
    }

    void reportStop(PulseStream* s, const std::string& why) {
        if (!s->ready || s->reported) return;
        s->reported = true;
        s->sink->streamDidStop(s->id, why);
    }

    static void onContextState(pa_context* c, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        const pa_context_state_t state = pa_context_get_state(c);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            const std::string why = pa_strerror(pa_context_errno(c));
            for (PulseStream* s : std::vector<PulseStream*>(self->live)) self->reportStop(s, why);
        }
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void onProbeState(pa_context*, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<Impl*>(userdata)->loop, 0);
    }

    // A new connection to the server (lock held); `onState` hears of its state changes.
    Result<ContextHandle> openContext(pa_context_notify_cb_t onState) {
        ContextHandle handle(pa_context_new(pa_threaded_mainloop_get_api(loop), "sondrel"));
        pa_context* c = handle.get();
        if (c == nullptr) return Failure{"nothing to monitor: cannot create a sound server client"};
        pa_context_set_state_callback(c, onState, this);
        const auto refused = [c] {
            return Failure{"nothing to monitor: cannot connect to the sound server (" + errorOf(c) + ")"};
        };
        if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return refused();
        const auto settled = [c] {
            const pa_context_state_t s = pa_context_get_state(c);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        };
        if (!waitFor(c, settled, CONNECT_TIMEOUT_USEC))
            return Failure{"nothing to monitor: the sound server did not answer in time"};
        if (pa_context_get_state(c) != PA_CONTEXT_READY) return refused();
        return handle;
    }

    Status ensureContext() {
        if (context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY) return {};
        dropContext();
        Result<ContextHandle> opened = openContext(&onContextState);
        if (!opened.ok()) return Failure{opened.why()};
        contextHandle = std::move(opened.value());
        context = contextHandle.get();
        return {};
    }

    // Waits (lock held) for the answer to `raw`, which signals through `pending`. Fails
    // when the request cannot be sent, the connection fails, or the server stays silent.
    Status await(pa_context* c, pa_operation* raw, Pending& pending) {
        const Operation op(raw);
        if (!op) return Failure{"cannot query the sound server (" + errorOf(c) + ")"};
        const bool answered = waitFor(
            c, [&] { return pending.done || !PA_CONTEXT_IS_GOOD(pa_context_get_state(c)); },
            REQUEST_TIMEOUT_USEC);
        if (pending.done) return {};
        // A frozen server reports nothing: only the time limit tells.
        if (!answered) {
            return Failure{"the sound server did not answer within " +
                           std::to_string(REQUEST_TIMEOUT_USEC / 1'000'000) + " s"};
        }
        return Failure{"the sound server connection failed (" + errorOf(c) + ")"};
    }

    // The default sink and its monitor, asked for by name: the special name for "the
    // default monitor" is not understood by every server, and one that falls back to the
    // default source would record the microphone.
    Result<MonitorTarget> resolveMonitor(pa_context* c) {
        struct ServerQuery : Pending {
            std::string sink;
        } server{{this}, {}};
        Status asked = await(c, pa_context_get_server_info(
                  c,
                  [](pa_context*, const pa_server_info* info, void* userdata) {
                      auto* q = static_cast<ServerQuery*>(userdata);
                      if (info != nullptr && info->default_sink_name != nullptr)
                          q->sink = info->default_sink_name;
                      q->finish();
                  },
                  &server),
              server);
        if (!asked.ok()) return Failure{asked.why()};
        // PipeWire names its placeholder when there is no sink at all.
        if (server.sink.empty() || server.sink == "@DEFAULT_SINK@")
            return Failure{"nothing to monitor: the sound server has no default sink"};

        struct SinkQuery : Pending {
            std::string monitor;
        } sink{{this}, {}};
        asked = await(c, pa_context_get_sink_info_by_name(
                  c, server.sink.c_str(),
                  [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
                      auto* q = static_cast<SinkQuery*>(userdata);
                      if (info != nullptr && info->monitor_source_name != nullptr)
                          q->monitor = info->monitor_source_name;
                      if (eol != 0) q->finish();  // negative: no such sink
                  },
                  &sink),
              sink);
        if (!asked.ok()) return Failure{asked.why()};
        if (sink.monitor.empty()) {
            return Failure{"nothing to monitor: the sound server's default sink \"" +
                           server.sink + "\" is gone"};
        }
        return MonitorTarget{server.sink, sink.monitor};
    }

    // The source `stream` is really connected to; `monitorOfSink` is PA_INVALID_INDEX for a
    // source that is not a sink's monitor (a microphone).
    Result<ConnectedSource> connectedSource(pa_context* c, pa_stream* stream) {
        struct SourceQuery : Pending {
            bool found = false;
            ConnectedSource source;
        } query{{this}, false, {}};
        const std::uint32_t index = pa_stream_get_device_index(stream);
        if (index == PA_INVALID_INDEX) return ConnectedSource{};
        const Status asked = await(c, pa_context_get_source_info_by_index(
                  c, index,
                  [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                      auto* q = static_cast<SourceQuery*>(userdata);
                      if (info != nullptr) {
                          q->found = true;
                          q->source.name = info->name != nullptr ? info->name : "";
                          q->source.monitorOfSink = info->monitor_of_sink;
                      }
                      if (eol != 0) q->finish();
                  },
                  &query),
              query);
        if (!asked.ok()) return Failure{asked.why()};
        return query.source;
    }

    static void onStreamState(pa_stream* stream, void* userdata) {
        auto* s = static_cast<PulseStream*>(userdata);
        if (pa_stream_get_state(stream) == PA_STREAM_FAILED) {
            s->owner->reportStop(s, s->owner->contextError());
        }
        pa_threaded_mainloop_signal(s->owner->loop, 0);
    }

    // The server moved the stream to another source, despite PA_STREAM_DONT_MOVE. Whatever
    // it records now is unchecked: deliver no more, and report the stream as stopped.
    static void onStreamMoved(pa_stream*, void* userdata) {
        auto* s = static_cast<PulseStream*>(userdata);
        s->moved = true;
        s->owner->reportStop(s, "the sound server moved the capture to another source");
        pa_threaded_mainloop_signal(s->owner->loop, 0);
    }

    static void anchor(PulseStream* s, pa_stream* stream) {
        // The client-side backlog was captured before now; count it back from the moment
        // of arrival. This holds from the first fragment on, unlike the server's latency
        // figures, which are unreliable until the stream has run for a while.
        const std::int64_t backlogFrames =
            static_cast<std::int64_t>(pa_stream_readable_size(stream) / FRAME_BYTES);
        s->anchorFrame = nsToFrames(monotonicNs(), s->rate) - backlogFrames;
        s->anchored = true;
    }

    static void onStreamRead(pa_stream* stream, size_t, void* userdata) {
        auto* s = static_cast<PulseStream*>(userdata);
        // Data can arrive between the stream turning ready and connect() taking the lock back
        // to set up the delivery buffer. It stays queued for the next call; the anchor counts
        // the backlog back, so the timeline is the same.
        if (!s->ready || s->moved) return;
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
            if (!s->anchored) anchor(s, stream);
            const std::size_t frames = bytes / FRAME_BYTES;
            if (data == nullptr) {
                // A hole: silence of the same length keeps the sample clock continuous.
                if (s->zeros.size() < bytes) s->zeros.assign(bytes, 0);
                data = s->zeros.data();
            }
            if (frames > 0) {
                AudioBlock block;
                block.rate = s->rate;
                block.channels = CHANNELS;
                block.presentationTime = {s->anchorFrame + s->framesDelivered,
                                          static_cast<std::int32_t>(s->rate)};
                block.data = data;
                block.frames = frames;
                s->sink->streamDidOutput(s->id, block);
                s->framesDelivered += static_cast<std::int64_t>(frames);
            }
            pa_stream_drop(stream);
        }
    }

    // Detaches and releases `s`'s stream (lock held); no callback reaches it afterwards.
    void release(PulseStream* s) {
        live.erase(std::remove(live.begin(), live.end(), s), live.end());
        s->stream.reset();
    }

    // Builds a record stream of the default sink's monitor (lock held).
    Result<std::unique_ptr<PulseStream>> connect(StreamSink& sink) {
        const bool reused = context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY;
        if (Status connected = ensureContext(); !connected.ok()) return Failure{connected.why()};
        // PipeWire answers each client from its own copy of the server's state, brought up to
        // date a moment after a change. A caller that saw the default sink change asks for a
        // restart and must get the new sink, so the questions go over a connection made now
        // (the capture's own, when it was just made).
        ContextHandle probe;
        if (reused) {
            Result<ContextHandle> opened = openContext(&onProbeState);
            if (!opened.ok()) return Failure{opened.why()};
            probe = std::move(opened.value());
        }
        pa_context* const asking = reused ? probe.get() : context;
        Result<MonitorTarget> resolved = resolveMonitor(asking);
        if (!resolved.ok()) return Failure{resolved.why()};
        const MonitorTarget& target = resolved.value();

        auto s = std::make_unique<PulseStream>();
        s->owner = this;
        s->id = nextId++;
        s->sink = &sink;
        if (Status opened = openRecord(*s, target); !opened.ok()) {
            release(s.get());
            return Failure{opened.why()};
        }
        // Nothing is delivered before this check passes: data that arrives meanwhile stays
        // queued in the stream and is dropped with it.
        Result<ConnectedSource> actual = connectedSource(asking, s->stream.get());
        if (!actual.ok() || actual.value().monitorOfSink == PA_INVALID_INDEX || s->moved) {
            release(s.get());
            if (!actual.ok()) return Failure{actual.why()};
            const std::string& name = actual.value().name;
            return Failure{"refusing to record " + (name.empty() ? "an unknown source" : name) +
                           ": the sound server connected the capture to it instead of " +
                           target.source + ", and it is not a sink's monitor"};
        }
        s->description = "sink " + target.sink + " (source " + target.source + ")";
        // We ask for 48 kHz; the rate the stream reports is the one its frames count in.
        const pa_sample_spec* format = pa_stream_get_sample_spec(s->stream.get());
        if (format != nullptr && format->rate > 0) s->rate = format->rate;
        s->ready = true;
        live.push_back(s.get());
        return s;
    }

    // Creates `s`'s stream and connects it to `target`'s monitor; waits until it is ready.
    Status openRecord(PulseStream& s, const MonitorTarget& target) {
        const pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32LE, RATE, CHANNELS};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        s.stream.reset(pa_stream_new(context, "sondrel capture", &sampleSpec, &map));
        if (!s.stream) return Failure{"cannot create a record stream (" + contextError() + ")"};
        pa_stream* stream = s.stream.get();
        pa_stream_set_state_callback(stream, &onStreamState, &s);
        pa_stream_set_read_callback(stream, &onStreamRead, &s);
        pa_stream_set_moved_callback(stream, &onStreamMoved, &s);

        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(-1);
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(FRAGMENT_USEC, &sampleSpec));
        // A fragment size alone still yields bursts; latency adjustment makes the server
        // deliver at that pace. No timing updates: the timeline is anchored on arrival.
        // Not movable: when the monitor goes away the stream fails instead of being moved
        // to whatever source the server picks next.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        const std::string failure = "cannot record from the monitor of sink " + target.sink;
        if (pa_stream_connect_record(stream, target.source.c_str(), &attr, flags) < 0)
            return Failure{failure + " (" + contextError() + ")"};
        const bool settled = waitFor(
            context,
            [&] {
                const pa_stream_state_t st = pa_stream_get_state(stream);
                return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
            },
            REQUEST_TIMEOUT_USEC);
        if (!settled) return Failure{failure + " (no answer in time)"};
        if (pa_stream_get_state(stream) != PA_STREAM_READY)
            return Failure{failure + " (" + contextError() + ")"};
        return {};
    }
};

namespace {

class PulseCaptureStream final : public CaptureStream {
  public:
    PulseCaptureStream(PulseAudioSource::Impl& owner, std::unique_ptr<PulseStream> stream)
        : owner_(owner), stream_(std::move(stream)) {}
    ~PulseCaptureStream() override { (void)stop(); }

    StreamId id() const override { return stream_->id; }
    std::string description() const override { return stream_->description; }

    // Releasing a stream cannot fail; the server is told, without waiting for its answer.
    Status stop() override {
        MainLoopLock lock(owner_.loop);
        owner_.release(stream_.get());
        return {};
    }

  private:
    PulseAudioSource::Impl& owner_;
    std::unique_ptr<PulseStream> stream_;
};

}  // namespace

PulseAudioSource::PulseAudioSource() : impl_(std::make_unique<Impl>()) {}

Result<std::unique_ptr<PulseAudioSource>> PulseAudioSource::start() {
    std::unique_ptr<PulseAudioSource> source(new PulseAudioSource());
    Impl& impl = *source->impl_;
    impl.loopHandle.reset(pa_threaded_mainloop_new());
    impl.loop = impl.loopHandle.get();
    if (impl.loop == nullptr || pa_threaded_mainloop_start(impl.loop) < 0)
        return Failure{"cannot start the sound server client's main loop"};
    return source;
}

PulseAudioSource::~PulseAudioSource() {
    if (impl_->loop == nullptr) return;
    MainLoopLock lock(impl_->loop);
    impl_->dropContext();
}

Result<std::unique_ptr<CaptureStream>> PulseAudioSource::makeStream(StreamSink& sink) {
    MainLoopLock lock(impl_->loop);
    Result<std::unique_ptr<PulseStream>> stream = impl_->connect(sink);
    if (!stream.ok()) return Failure{stream.why()};
    return std::unique_ptr<CaptureStream>(
        std::make_unique<PulseCaptureStream>(*impl_, std::move(stream.value())));
}

}  // namespace sondrel
