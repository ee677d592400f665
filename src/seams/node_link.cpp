#include "seams/node_link.h"

#include <utility>

namespace tarnwick {

bool NodeInUse(NodeLink& node) { return askNodeUse(node).any(); }

NodeUse askNodeUse(NodeLink& node) {
    // No short cut: the node sees all three queries every time.
    NodeUse use;
    use.busyA = node.GetBusyFlagA() != 0;
    use.receiving = node.GetReceivingSignal() != 0;
    use.busyB = node.GetBusyFlagB() != 0;
    return use;
}

std::string NodeUse::why() const {
    std::string flags;
    for (const auto& [set, name] :
         {std::pair{busyA, "busy flag A"}, std::pair{receiving, "receiving signal"}, std::pair{busyB, "busy flag B"}}) {
        if (!set) continue;
        if (!flags.empty()) flags += ", ";
        flags += name;
    }
    return flags.empty() ? flags : "node in use (" + flags + ")";
}

}  // namespace tarnwick
