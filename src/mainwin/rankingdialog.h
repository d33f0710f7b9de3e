#pragma once

#include "marks/ranking.h"

#include <QDialog>
#include <QVector>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The viewer's own ranking dialog, for when the ranking workbook is not there: it asks the
// portal for a ranking (kind, market, how many, which day), lists it, and saves its codes as a
// mark file in the data folder, which the main window then takes as the mark file in use. It
// never waits: every question to the portal is answered through signals, and failures show in
// the dialog itself. Tests find the controls by their object names.
class RankingDialog : public QDialog {
    Q_OBJECT

public:
    // markets: the code list's, offered after "すべて"; dataFolder: where the mark file goes.
    RankingDialog(const QString& portalBase, const QStringList& markets, const QString& dataFolder,
                  QWidget* parent = nullptr);
    ~RankingDialog() override;

    static constexpr int kDefaultCount = 50;

    // Asks for the newest day the portal holds, then lists that day's ranking of the kind
    // chosen.
    void start();

    // What the list shows now (tests and the window's status).
    const QVector<marks::RankingRow>& rows() const { return m_rows; }
    bool sample() const { return m_sample; }

Q_SIGNALS:
    // The ranking was saved as this mark file.
    void markFileSaved(const QString& path);

private:
    void createControls(const QStringList& markets);
    void showRanking();
    void saveMarkFile();
    void newestDayFetched(const marks::NewestDay& day);
    void rankingFetched(const QVector<marks::RankingRow>& rows);
    void fetchFailed(const QString& message);
    void setStatus(const QString& text, bool problem = false);
    void setBusy(bool busy);
    void fillTable();

    marks::RankingFetch* m_fetch = nullptr;
    QString m_dataFolder;

    QComboBox* m_kind = nullptr;
    QComboBox* m_market = nullptr;
    QSpinBox* m_count = nullptr;
    QDateEdit* m_date = nullptr;
    QPushButton* m_show = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_sampleNote = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_close = nullptr;

    // The ranking listed, and the kind and day it is of: what a save writes.
    QVector<marks::RankingRow> m_rows;
    int m_rowsKind = 0;
    QDate m_rowsDate;
    QDate m_askedDate;
    int m_askedKind = 0;
    bool m_sample = false;
};
