// Plays one picture as a PipeWire video source, the way a desktop's screen cast offers a
// window: BGRx frames in shared memory at a steady rate. Prints "node <id>" on standard
// output once the node exists; runs until killed.
//
//   png_producer IMAGE [FPS]
#include <pipewire/pipewire.h>
#include <spa/param/buffers.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/image_codec.h"

namespace {

struct Producer {
    pw_main_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    spa_source* timer = nullptr;
    tessival::Image bgrx;
    bool announced = false;
};

void onProcess(void* data) {
    auto* p = static_cast<Producer*>(data);
    pw_buffer* b = pw_stream_dequeue_buffer(p->stream);
    if (b == nullptr) return;
    spa_data& d = b->buffer->datas[0];
    const auto stride = static_cast<uint32_t>(p->bgrx.bytesPerRow);
    const auto size = static_cast<uint32_t>(p->bgrx.bytes.size());
    if (d.data != nullptr && d.maxsize >= size) {
        std::memcpy(d.data, p->bgrx.bytes.data(), size);
        d.chunk->offset = 0;
        d.chunk->size = size;
        d.chunk->stride = static_cast<int32_t>(stride);
    }
    pw_stream_queue_buffer(p->stream, b);
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* p = static_cast<Producer*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    uint8_t buffer[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(static_cast<int>(p->bgrx.bytes.size())),
        SPA_PARAM_BUFFERS_stride, SPA_POD_Int(static_cast<int>(p->bgrx.bytesPerRow)),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
    pw_stream_update_params(p->stream, params, 1);
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* p = static_cast<Producer*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
        std::fprintf(stderr, "png_producer: stream error: %s\n", error != nullptr ? error : "?");
        pw_main_loop_quit(p->loop);
    }
    if (!p->announced && (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING)) {
        p->announced = true;
        std::printf("node %u\n", pw_stream_get_node_id(p->stream));
        std::fflush(stdout);
    }
}

void onTimeout(void* data, uint64_t) {
    auto* p = static_cast<Producer*>(data);
    pw_stream_trigger_process(p->stream);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: png_producer IMAGE [FPS]\n");
        return 2;
    }
    const int fps = argc > 2 ? std::atoi(argv[2]) : 10;
    std::optional<tessival::Image> img = tessival::readImageFile(argv[1]);
    if (!img) {
        std::fprintf(stderr, "png_producer: cannot read %s\n", argv[1]);
        return 1;
    }
    Producer p;
    p.bgrx = tessival::Image::blank(img->width, img->height, tessival::PixelOrder::BlueFirst);
    for (int64_t y = 0; y < img->height; ++y) {
        for (int64_t x = 0; x < img->width; ++x) {
            const uint8_t* s = img->bytes.data() + y * img->bytesPerRow + x * img->bytesPerPixel;
            uint8_t* o = p.bgrx.bytes.data() + y * p.bgrx.bytesPerRow + x * 4;
            const bool red = img->order == tessival::PixelOrder::RedFirst;
            o[0] = red ? s[2] : s[0];
            o[1] = s[1];
            o[2] = red ? s[0] : s[2];
            o[3] = 255;
        }
    }

    pw_init(&argc, &argv);
    p.loop = pw_main_loop_new(nullptr);
    pw_loop* loop = pw_main_loop_get_loop(p.loop);
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = onStateChanged;
        e.param_changed = onParamChanged;
        e.process = onProcess;
        return e;
    }();
    p.stream = pw_stream_new_simple(loop, "tessival-test-window",
                                    pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", nullptr),
                                    &events, &p);
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size{static_cast<uint32_t>(img->width), static_cast<uint32_t>(img->height)};
    spa_fraction rate{static_cast<uint32_t>(fps > 0 ? fps : 1), 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    if (pw_stream_connect(
            p.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 1) < 0) {
        std::fprintf(stderr, "png_producer: cannot connect the stream\n");
        return 1;
    }
    p.timer = pw_loop_add_timer(loop, onTimeout, &p);
    timespec first{0, 1}, interval{0, 1'000'000'000 / (fps > 0 ? fps : 1)};
    if (fps >= 1 && 1'000'000'000 / fps >= 1'000'000'000) interval = {1, 0};
    pw_loop_update_timer(loop, p.timer, &first, &interval, false);
    pw_main_loop_run(p.loop);
    pw_stream_destroy(p.stream);
    pw_main_loop_destroy(p.loop);
    pw_deinit();
    return 0;
}
