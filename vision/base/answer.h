#pragma once

#include <nlohmann/json.hpp>

namespace tessival {

// One answer: a JSON object written as one line by Output::emit.
using Answer = nlohmann::json;

}  // namespace tessival
