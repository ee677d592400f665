#include "station/station.h"

#include "base/convert.h"
#include "base/errors.h"
#include "seams/locale.h"

namespace tarnwick {

Station::Station(Platform p)
    : platform(p),
      log(p.log, p.locale, p.loop),
      dispatcher(p.dialogs, p.loop),
      timers(form, p.loop),
      graphs(p.graphs, p.loop) {
    decimalSeparator_ = platform.locale.decimalSeparator();
}

NodeLink& Station::echoLink() {
    if (!EchoLink) throw Failure(err::kObjectNotSet, "Object variable or With block variable not set");
    return *EchoLink;
}

MediaGraph& Station::graph() {
    if (!graph_) throw Failure(err::kObjectNotSet, "Object variable or With block variable not set");
    return *graph_;
}

MediaGraph& Station::holdGraph(std::unique_ptr<MediaGraph> graph) {
    graph_ = std::move(graph);
    return *graph_;
}

bool Station::releaseGraph() {
    const bool had = graph_ != nullptr;
    graph_.reset();
    return had;
}

std::string Station::numberText(double v) const { return numberToText(v, decimalSeparator_); }

double Station::textNumber(const std::string& text) const { return textToNumber(text, decimalSeparator_); }

}  // namespace tarnwick
