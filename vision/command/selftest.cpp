#include "command/selftest.h"

namespace tessival {

bool selftest(Output& out) {
    out.emit(Answer{{"ok", false}, {"selftest", "fail"}, {"failures", {"self-test not built yet"}}});
    return false;
}

}  // namespace tessival
