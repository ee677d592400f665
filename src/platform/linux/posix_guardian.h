// Tarnwick's side of its guardian on Linux (the guardian: src/guard/).
//
// start() runs tarnwick-guard from beside this program with one end of a
// socket pair as its standard input; only this process holds the other
// end, so its end of stream tells the guardian that this process has gone,
// however it ended (the end is closed on exec: no child of ours inherits
// it). keyingChanged() writes one byte per change of the keying, without
// ever blocking the window's thread.
#pragma once

#include "guard/keying_watch.h"

#include <functional>
#include <string>

namespace tarnwick {

class PosixGuardian : public KeyingObserver {
public:
    // `report` receives a problem with the guardian, once.
    explicit PosixGuardian(std::function<void(const std::string&)> report) : report_(std::move(report)) {}
    ~PosixGuardian() override;
    PosixGuardian(const PosixGuardian&) = delete;
    PosixGuardian& operator=(const PosixGuardian&) = delete;

    // Starts `program` (passing `logPath` for its report) and waits up to
    // a few seconds for it to say that it reads. False, after reporting
    // why, when it could not be started: the program then runs without.
    bool start(const std::string& program, const std::string& logPath);

    // Writes the change to the guardian. A guardian that has gone or stopped
    // reading is reported once; nothing raises.
    void keyingChanged(bool keyed) override;

    int pid() const { return pid_; }

private:
    void problem(const std::string& text);

    std::function<void(const std::string&)> report_;
    int fd_ = -1;
    int pid_ = -1;
    bool reported_ = false;
};

// tarnwick-guard in the folder of the running program.
std::string guardianProgramPath();

}  // namespace tarnwick
