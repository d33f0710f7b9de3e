#pragma once

#include "composition.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <vector>

namespace chart {

struct RetrievalResult {
    bool failed = false;    // a term missed under every suffix, or the display ran out of time
    bool timedOut = false;  // the display was still running at its bound
    bool cancelled = false; // ended from outside (the window closing)
    int fetchedTerms = 0;   // terms accepted in term order before any miss (the pane counter)
    int transfers = 0;      // transfers finished for the terms up to the first that missed
    int unreachable = 0;    // of those, refused or timed out (no answer at all)
    int refused = 0;        // of those, refused: nothing listens there
    // No answer at all: a dead server, or one that kept the display waiting past its bound.
    bool serverUnreachable() const {
        return timedOut || (transfers > 0 && unreachable == transfers);
    }
    // Every transfer refused: no server at the address at all.
    bool serverRefused() const { return !timedOut && transfers > 0 && refused == transfers; }
};

// The exchange suffix that last answered for each code during this session, so that a later
// display of the code asks there first.
class SuffixMemory {
public:
    // The order a term tries the suffixes: the remembered one first, then the others in their
    // usual order; without a memory, the usual order.
    QStringList orderFor(const QString& code) const;
    QString lookup(const QString& code) const { return m_suffix.value(code); }
    void remember(const QString& code, const QString& suffix);
    void forget(const QString& code);

private:
    QHash<QString, QString> m_suffix;
};

// One accepted chart term.
struct TermImage {
    int pane = -1; // the pane counter it gets: how many enabled terms come before it
    int term = -1; // index into terms()
    QByteArray bytes;
};

// The chart terms of one display, fetched concurrently: each term walks its suffixes one after
// the other and takes the first answer whose first byte is 'G'. A term that misses under every
// suffix fails the display: the terms after it are cancelled at once, the ones before it are
// still waited for, so the display ends as a one-by-one display would: failed at the first term
// in order that missed, with the transfers that display would have made counted in the result.
// Nothing is written or shown here: arrivals are announced, and the owner decides.
class DisplayFetch : public QObject {
    Q_OBJECT

public:
    enum class Mode {
        AllTerms,       // every enabled term at once: a display the user waits for
        FirstTermFirst, // the others once the first has answered: search candidates, which
                        // mostly miss at the first term and should cost no more than that
    };
    static constexpr int kBoundMs = 15000;

    DisplayFetch(platform::MultiTransfer& transfer, const platform::ServerConfig& servers,
                 SuffixMemory& memory, QObject* parent = nullptr);
    ~DisplayFetch() override; // cancels silently

    // finished() follows from the event loop, also when no term is enabled.
    void start(const QString& code, const ChartOptions& options, Mode mode = Mode::AllTerms,
               int boundMs = kBoundMs);
    // Ends a running fetch as failed and cancelled; finished() is emitted at once.
    void cancel();

    bool isFinished() const { return m_state == State::Finished; }
    bool succeeded() const { return isFinished() && !m_result.failed; }
    const QString& code() const { return m_code; }
    const ChartOptions& options() const { return m_options; }
    const RetrievalResult& result() const { return m_result; }
    // The accepted terms in pane order; on success, every enabled term.
    std::vector<TermImage> images() const;

Q_SIGNALS:
    void termArrived(const chart::TermImage& image);
    void finished();

private:
    struct Run {
        int term = -1;
        int pane = -1;
        QStringList order;
        int next = 0;
        platform::MultiTransfer::Ticket ticket = 0;
        bool accepted = false;
        bool started = false;
        bool failed = false; // missed under every suffix
        int transfers = 0;
        int unreachable = 0;
        int refused = 0;
        QByteArray bytes;
    };
    enum class State { Idle, Running, Finished };

    void launch(int run);
    void onAnswer(int run, platform::FetchResult answer);
    // Ends the fetch once the terms before the first failed one are all in.
    void settle();
    // The first term that failed, or the number of terms: a one-by-one display never gets past
    // it, so no term after it is started or waited for.
    std::size_t firstFailed() const;
    void end(bool failed);
    // Cancels the transfers of the terms from `from` on.
    void stopTransfers(std::size_t from = 0);

    platform::MultiTransfer& m_transfer;
    platform::ServerConfig m_servers;
    SuffixMemory& m_memory;
    QString m_code;
    QString m_params;
    ChartOptions m_options;
    std::vector<Run> m_runs;
    RetrievalResult m_result;
    State m_state = State::Idle;
    QTimer m_bound;
};

} // namespace chart
