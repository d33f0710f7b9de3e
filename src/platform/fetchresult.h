#pragma once

#include <QByteArray>

namespace platform {

// What became of one transfer. Only Answered carries a body; a caller that needs the first byte
// of an image treats everything else (and an empty body) as a miss.
struct FetchResult {
    enum class Status {
        Answered,    // the server answered; body holds what it sent, whatever the HTTP status
        Unreachable, // refused, no route, name not resolved
        TimedOut,    // connect or total time-out
        TooLarge,    // the answer passed the size cap
        Failed,      // any other transfer error (connection dropped without an answer, ...)
    };
    Status status = Status::Failed;
    QByteArray body;

    bool answered() const { return status == Status::Answered; }
    // Nothing came back from the server at all: refused or timed out (used to tell a dead
    // server from one that answers with error pages).
    bool unreachable() const { return status == Status::Unreachable || status == Status::TimedOut; }
};

} // namespace platform
