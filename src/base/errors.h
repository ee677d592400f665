// The two error regimes of the system.
//
// A failing step raises a Failure: a number and a description, as the
// standard error report shows them. Handlers run in one of two regimes:
//
//   * skip-and-continue: each step is wrapped in skipOnFailure(); a Failure
//     there is swallowed and the next step runs. Use it only where the
//     behaviour says a stretch ignores errors (the transmit steps, the change
//     rules of fields and bars, the progress tick).
//   * uncaught: everything else. A Failure propagates to the Dispatcher
//     (station/dispatcher.h), which shows the standard error report and ends the
//     program at once.
//
// The exit paths that save run their node steps in a third, narrow way
// (FirstFailure): a failing unkey must not stop the save behind it, so the
// first failure is kept and reported after the save.
//
// Code must never catch (...) : ending the program in the test fakes unwinds
// with an exception that is not a Failure, and it must reach the top.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace tarnwick {

class Failure : public std::runtime_error {
public:
    Failure(long number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}

    long number() const { return number_; }
    const std::string& description() const { return description_; }

private:
    long number_;
    std::string description_;
};

// Failure numbers the system raises itself. They follow the classic runtime numbering
// (6 overflow, 13 type mismatch, ...) that sysops know from error reports.
namespace err {
inline constexpr long kOverflow = 6;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kObjectNotSet = 91;
inline constexpr long kInvalidPropertyValue = 380;
inline constexpr long kAutomationError = 440;  // a node call that failed
inline constexpr long kFileError = 75;         // path/file access error
inline constexpr long kInternal = 51;          // an unexpected exception
}  // namespace err

// Runs one step of a skip-and-continue stretch: a Failure is swallowed.
// Returns whether the step completed.
template <typename Step>
bool skipOnFailure(Step&& step) {
    try {
        step();
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// Runs steps that must not stop what follows them, keeping the first
// Failure for afterwards.
class FirstFailure {
public:
    template <typename Step>
    void attempt(Step&& step) {
        try {
            step();
        } catch (const Failure& f) {
            if (!failure_) failure_ = f;
        }
    }
    const std::optional<Failure>& failure() const { return failure_; }

private:
    std::optional<Failure> failure_;
};

}  // namespace tarnwick
