#pragma once

#include <string_view>

namespace flenn::Predictor {

// The JSON text of the model compiled into the program.
std::string_view embeddedModelText();

} // namespace flenn::Predictor
