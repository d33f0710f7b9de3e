#pragma once

#include "chartretrieval.h"
#include "composition.h"
#include "displayfetch.h"
#include "lookahead.h"
#include "searchrules.h"
#include "securitycode.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace chart {

// A search as an operation on the event loop: candidates are probed ahead (LookAhead) and judged
// strictly in order, one step at a time from the event loop, so input is handled between two
// candidates as it would be between two turns of a loop that lets pending events through. It
// ends once, with finished(); a found candidate is handed over unshown (takeWinner()), for the
// window to show it as a display. Nothing here waits.
class SearchOperation : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        Running,
        Found,             // takeWinner() holds the fetch to show
        NotACode,          // the code box held no number, or the stepping left the numbers
        NoCodeFound,       // a whole pass without a chart
        ServerUnreachable, // no answer at all for a while
        NoMarkShown,       // every mark failed
        Ended,             // the marks ran out (emptied meanwhile): nothing to tell
        Cancelled,         // ended from outside
    };

    ~SearchOperation() override;

    // While paused (a dialog opened between two candidates), no candidate is judged; probes
    // under way go on. Pauses nest.
    void pause();
    void resume();
    // Ends at once, as Cancelled; no signal follows.
    void cancel();
    // When every transfer of a candidate was refused (nothing listens at the server), the
    // window may bring the server back: restart() returns true when it has begun to, and the
    // search then pauses and tries that candidate again once resume() is called. Once per
    // search: a server that is refused again is judged as any unanswered candidate.
    void setRestart(std::function<bool()> restart) { m_restart = std::move(restart); }

    bool isRunning() const { return m_outcome == Outcome::Running; }
    Outcome outcome() const { return m_outcome; }
    std::unique_ptr<DisplayFetch> takeWinner() { return std::move(m_winner); }
    // The outcome of the last candidate judged (transfers made, answered or not).
    const RetrievalResult& lastResult() const { return m_lastResult; }

Q_SIGNALS:
    // A candidate's turn has come: it is being judged now.
    void candidateJudged(const QString& code);
    void finished();

protected:
    SearchOperation(ChartRetrieval& retrieval, const ChartOptions& options, QObject* parent);
    // One turn: judges what can be judged and either ends, waits for the oldest probe, or asks
    // for the next turn.
    virtual void step() = 0;
    void nextTurn();
    // Goes on when the oldest probe finishes; false when it has finished already.
    bool resumeWhenFrontEnds();
    void finish(Outcome outcome, std::unique_ptr<DisplayFetch> winner = {});
    // A refused candidate with a restart begun: the probes are dropped and the search paused.
    // The caller then probes again from that candidate.
    bool restartedFor(const LookAhead::Probe& probe);

    LookAhead m_ahead;
    RetrievalResult m_lastResult;

private:
    void turn();
    void proceed();

    Outcome m_outcome = Outcome::Running;
    std::unique_ptr<DisplayFetch> m_winner;
    int m_paused = 0;
    std::function<bool()> m_restart;
    bool m_restarted = false;
    bool m_turnQueued = false;
    QMetaObject::Connection m_frontWait;
};

// 昇順検索 / 降順検索: from the code box's code through every code in the direction, the code
// list's alphanumeric codes at their places in code order, until one shows a chart.
class CodeSearchOperation : public SearchOperation {
    Q_OBJECT

public:
    CodeSearchOperation(ChartRetrieval& retrieval, const ChartOptions& options,
                        const QStringList& alphanumericCodes, CodeSearch::Clock clock = {},
                        QObject* parent = nullptr);
    void start(const QString& codeBoxText, StepDirection direction);

private:
    void step() override;

    QStringList m_alphanumeric;
    CodeSearch m_search;
    StepDirection m_direction = StepDirection::Up;
    std::optional<QString> m_toProbe;
};

// マーク昇順検索 / マーク降順検索: from the mark position through the marks. The marks and the
// position are the window's and may change between two candidates (a mark set or cleared, a
// mark-list row opened); each probe is checked against them when its turn comes.
class MarkStepOperation : public SearchOperation {
    Q_OBJECT

public:
    struct Marks {
        std::function<QString()> line; // the mark string now
        std::function<int()> position; // the mark position now
        std::function<void(int)> setPosition;
    };
    MarkStepOperation(ChartRetrieval& retrieval, const ChartOptions& options, Marks marks,
                      QObject* parent = nullptr);
    void start(StepDirection direction);

private:
    void step() override;
    void advance();
    void fill();

    Marks m_marks;
    MarkSearch m_search;
    StepDirection m_direction = StepDirection::Up;
    int m_probePosition = 0;
    QSet<int> m_probed;
};

} // namespace chart
