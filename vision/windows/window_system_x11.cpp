#include "windows/window_system_x11.h"

namespace tessival {
namespace {

class X11WindowSystem final : public WindowSystem {
public:
    ShareableContent shareableContent(bool) override { throw unavailable(); }
    std::optional<pid_t> frontmostPid() override { throw unavailable(); }
    uint32_t mainDisplayId() override { throw unavailable(); }
    Image capture(const WindowFacts&, const DisplayFacts&, const Rect&, int64_t, int64_t) override {
        throw unavailable();
    }

private:
    static PlatformError unavailable() {
        return PlatformError("the X11 window system is not implemented in this build");
    }
};

}  // namespace

std::unique_ptr<WindowSystem> makeX11WindowSystem() { return std::make_unique<X11WindowSystem>(); }

}  // namespace tessival
