#include "node/node_link.h"

namespace tarnwick {

bool NodeInUse(NodeLink& node) {
    // No short cut: the node sees all three queries every time.
    const NodeBool a = node.GetBusyFlagA();
    const NodeBool rx = node.GetReceivingSignal();
    const NodeBool b = node.GetBusyFlagB();
    return (a | rx | b) != 0;
}

}  // namespace tarnwick
