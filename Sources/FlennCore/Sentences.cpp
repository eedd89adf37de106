#include "Sentences.h"

namespace flenn::Sentences {

std::string checkerTimedOut(std::string_view seconds) {
    return "The quality check was stopped because it took longer than " + std::string(seconds) +
           " seconds.";
}

std::string noLongerAvailable(std::string_view name) {
    return std::string(name) + " is no longer available.";
}

std::string insidePackage(std::string_view name, std::string_view package) {
    return std::string(name) + " is inside " + std::string(package) + ", so Flenned left it alone.";
}

std::string libraryOrApp(std::string_view name) {
    return std::string(name) + " is a library or app, so Flenned left it alone.";
}

std::string exportFolderInside(std::string_view name) {
    return "Choose an export folder outside " + std::string(name) + ".";
}

std::string refusalSummary(std::string_view first, std::size_t count) {
    if (count <= 1)
        return std::string(first);
    if (count == 2)
        return std::string(first) + " 1 other item was skipped too.";
    return std::string(first) + " " + std::to_string(count - 1) + " other items were skipped too.";
}

} // namespace flenn::Sentences
