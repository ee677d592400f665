// tarnwick-aircheck: what a node put on the air.
//
//   tarnwick-aircheck record WAV [SOURCE]   records SOURCE (default: the monitor of $PULSE_SINK, else
//                                           @DEFAULT_MONITOR@) into WAV and WAV.clock until SIGINT or SIGTERM
//   tarnwick-aircheck report WAV TRACE      one line per keyed span of the stand-in's TRACE, then a total
//
// See air_check.h for what each figure of the report means.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "aircheck/air_check.h"
#include "aircheck/air_recorder.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

int usage() {
    std::fputs(
        "usage: tarnwick-aircheck record WAV [SOURCE]\n"
        "       tarnwick-aircheck report WAV TRACE\n",
        stderr);
    return 2;
}

int record(const std::string& wav, std::string source) {
    if (source.empty()) {
        const char* sink = std::getenv("PULSE_SINK");
        source = sink != nullptr && *sink != '\0' ? std::string(sink) + ".monitor" : "@DEFAULT_MONITOR@";
    }
    // Without SA_RESTART, so that the signal ends the recorder's wait at once.
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::string error;
    if (!tarnwick::air::recordAir(source, wav, stopRequested, error)) {
        std::fprintf(stderr, "tarnwick-aircheck: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int report(const std::string& wav, const std::string& tracePath) {
    tarnwick::air::AirRecording recording;
    std::string error;
    if (!tarnwick::air::readAirRecording(wav, recording, error)) {
        std::fprintf(stderr, "tarnwick-aircheck: %s\n", error.c_str());
        return 1;
    }
    std::ifstream trace(tracePath);
    if (!trace) {
        std::fprintf(stderr, "tarnwick-aircheck: cannot read the trace %s\n", tracePath.c_str());
        return 1;
    }
    const auto spans = tarnwick::air::keyedSpans(trace);
    std::fputs(tarnwick::air::formatReport(tarnwick::air::airReport(recording, spans)).c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && (argc == 3 || argc == 4)) return record(argv[2], argc == 4 ? argv[3] : "");
    if (mode == "report" && argc == 4) return report(argv[2], argv[3]);
    return usage();
}
