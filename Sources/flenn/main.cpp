// flenn: compresses the JPEGs named on the command line into an export folder or in place.
#include <cstdio>
#include <string>
#include <vector>

#include "Batch.h"
#include "CodecError.h"
#include "CommandLine.h"
#include "Compressor.h"
#include "Output.h"
#include "Text.h"
#include "Workers.h"

namespace {

std::string photoLine(const std::filesystem::path &destination, const flenn::Result &result) {
    char score[32];
    std::snprintf(score, sizeof score, "%.2f", result.score);
    std::string line = destination.string() + "   " + flenn::Text::groupedInteger(result.before) +
                       " \u2192 " + flenn::Text::groupedInteger(result.after) + "   " + score + "   " +
                       std::string(flenn::rawValue(result.outcome));
    if (result.note)
        line += "   (" + *result.note + ")";
    return line;
}

std::vector<flenn::Job> plannedJobs(const Request &request) {
    if (!request.output) {
        std::vector<flenn::Job> jobs;
        for (const auto &file : flenn::Batch::files(request.inputs))
            jobs.push_back({file, file});
        return jobs;
    }
    try {
        return flenn::Batch::jobs(request.inputs, *request.output);
    } catch (const flenn::CodecError &refusal) {
        emit(refusal.message(), stderr);
        std::exit(1);
    }
}

} // namespace

int main(int argc, char **argv) {
    Request request = readCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    const std::vector<flenn::Job> queue = plannedJobs(request);
    if (queue.empty()) {
        emit("No JPEGs found", stderr);
        return 1;
    }
    const flenn::Preset chosenPreset = request.preset;
    const bool exporting = request.output.has_value();
    forEachConcurrently(queue.size(), request.jobs, [&](std::size_t i) {
        const flenn::Job &job = queue[i];
        try {
            flenn::Result result = exporting
                                       ? flenn::Compressor::compress(job.source, job.destination, chosenPreset)
                                       : flenn::Compressor::compressInPlace(job.source, chosenPreset);
            emit(photoLine(job.destination, result), stdout);
        } catch (const std::exception &error) {
            markFailed();
            emit(job.source.string() + ": " + error.what(), stderr);
        }
    });
    return anyFailed() ? 1 : 0;
}
