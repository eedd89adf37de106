#include "EmbeddedModel.h"

namespace flenn::Predictor {

// No model has been trained yet: the empty text leaves the predictor absent, so the
// reference-table mode gives no candidate and photos fall back to the lossless rule.
std::string_view embeddedModelText() {
    return "";
}

} // namespace flenn::Predictor
