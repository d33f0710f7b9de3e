#include "rankingdialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QString kDayForm = QStringLiteral("yyyy/MM/dd");

QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

RankingDialog::RankingDialog(const QString& portalBase, const QStringList& markets,
                             const QString& dataFolder, QWidget* parent)
    : QDialog(parent)
    , m_fetch(new marks::RankingFetch(portalBase, this))
    , m_dataFolder(dataFolder) {
    setWindowTitle(QStringLiteral("Quorvix Chart Viewer ランキング"));
    createControls(markets);
    connect(m_fetch, &marks::RankingFetch::newestDayFetched, this,
            &RankingDialog::newestDayFetched);
    connect(m_fetch, &marks::RankingFetch::rankingFetched, this, &RankingDialog::rankingFetched);
    connect(m_fetch, &marks::RankingFetch::failed, this, &RankingDialog::fetchFailed);
}

RankingDialog::~RankingDialog() = default;

void RankingDialog::createControls(const QStringList& markets) {
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("kind"));
    for (const marks::RankingKind& kind : marks::rankingKinds())
        m_kind->addItem(kind.caption, kind.key);

    m_market = new QComboBox(this);
    m_market->setObjectName(QStringLiteral("market"));
    m_market->addItem(QStringLiteral("すべて"), QString());
    for (const QString& market : markets)
        m_market->addItem(market, market);

    m_count = new QSpinBox(this);
    m_count->setObjectName(QStringLiteral("count"));
    m_count->setRange(1, 9999);
    m_count->setValue(kDefaultCount);
    m_count->setSuffix(QStringLiteral(" 銘柄"));

    m_date = new QDateEdit(this);
    m_date->setObjectName(QStringLiteral("date"));
    m_date->setDisplayFormat(kDayForm);
    m_date->setCalendarPopup(true);
    m_date->setDate(QDate::currentDate());

    m_show = new QPushButton(QStringLiteral("表示"), this);
    m_show->setObjectName(QStringLiteral("show"));
    m_show->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("種類"), m_kind);
    form->addRow(QStringLiteral("市場"), m_market);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(m_count);
    countRow->addSpacing(16);
    countRow->addWidget(new QLabel(QStringLiteral("日付"), this));
    countRow->addWidget(m_date);
    countRow->addStretch();
    countRow->addWidget(m_show);
    form->addRow(QStringLiteral("件数"), countRow);

    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("list"));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);

    m_sampleNote = new QLabel(QStringLiteral("サンプルデータ（架空の株価）によるランキングです。"
                                             "実際の株価は quote-portal import で取り込めます。"),
                              this);
    m_sampleNote->setObjectName(QStringLiteral("sampleNote"));
    m_sampleNote->setWordWrap(true);
    m_sampleNote->setStyleSheet(
        QStringLiteral("color:#fff;background:#c8501e;padding:2px 4px;font-weight:bold"));
    m_sampleNote->hide();

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_save = new QPushButton(QStringLiteral("マークファイルに保存"), this);
    m_save->setObjectName(QStringLiteral("save"));
    m_save->setEnabled(false);
    m_close = new QPushButton(QStringLiteral("閉じる"), this);
    m_close->setObjectName(QStringLiteral("close"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_save);
    buttons->addWidget(m_close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_sampleNote);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(620, 520);

    fillTable();
    connect(m_show, &QPushButton::clicked, this, &RankingDialog::showRanking);
    connect(m_save, &QPushButton::clicked, this, &RankingDialog::saveMarkFile);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
}

void RankingDialog::start() {
    setBusy(true);
    setStatus(
        QStringLiteral("ポータル（%1）に株価の最新日を問い合わせています…").arg(m_fetch->base()));
    m_fetch->fetchNewestDay();
}

void RankingDialog::newestDayFetched(const marks::NewestDay& day) {
    m_sample = day.sample;
    m_sampleNote->setVisible(m_sample);
    if (!day.date.isValid()) {
        setBusy(false);
        setStatus(QStringLiteral("ポータルに株価がありません。"), true);
        return;
    }
    m_date->setDate(day.date);
    showRanking();
}

void RankingDialog::showRanking() {
    m_askedKind = m_kind->currentIndex();
    m_askedDate = m_date->date();
    setBusy(true);
    setStatus(QStringLiteral("%1 の%2を問い合わせています…")
                  .arg(m_askedDate.toString(kDayForm), m_kind->currentText()));
    m_fetch->fetchRanking(m_kind->currentData().toString(), m_market->currentData().toString(),
                          m_count->value(), m_askedDate);
}

void RankingDialog::rankingFetched(const QVector<marks::RankingRow>& rows) {
    m_rows = rows;
    m_rowsKind = m_askedKind;
    m_rowsDate = m_askedDate;
    fillTable();
    setBusy(false);
    const QString what = QStringLiteral("%1 の%2").arg(
        m_rowsDate.toString(kDayForm), marks::rankingKinds().at(m_rowsKind).caption);
    if (m_rows.isEmpty())
        setStatus(what + QStringLiteral("に当たる銘柄はありません（この日の株価がないか、"
                                        "条件に合う銘柄がありません）。"));
    else
        setStatus(what + QStringLiteral("：%1 銘柄").arg(m_rows.size()));
}

void RankingDialog::fetchFailed(const QString& message) {
    m_rows.clear();
    fillTable();
    setBusy(false);
    setStatus(message, true);
}

void RankingDialog::saveMarkFile() {
    if (m_rows.isEmpty())
        return;
    QString path, message;
    const QString key = marks::rankingKinds().at(m_rowsKind).key;
    if (!marks::saveRanking(m_dataFolder, key, m_rowsDate, m_rows, &path, &message)) {
        setStatus(message, true);
        return;
    }
    setStatus(QStringLiteral("%1 に保存し、使用中のマークファイルにしました。")
                  .arg(QDir::toNativeSeparators(path)));
    Q_EMIT markFileSaved(path);
}

void RankingDialog::setStatus(const QString& text, bool problem) {
    m_status->setText(text);
    m_status->setStyleSheet(problem ? QStringLiteral("color:#b00000") : QString());
}

void RankingDialog::setBusy(bool busy) {
    m_show->setEnabled(!busy);
    m_save->setEnabled(!busy && !m_rows.isEmpty());
}

void RankingDialog::fillTable() {
    const marks::RankingKind& kind = marks::rankingKinds().at(m_rowsKind);
    m_table->setHorizontalHeaderLabels({QStringLiteral("順位"), QStringLiteral("コード"),
                                        QStringLiteral("銘柄名"), kind.valueCaption});
    m_table->setRowCount(int(m_rows.size()));
    static const QLocale grouping(QLocale::English);
    for (int i = 0; i < m_rows.size(); ++i) {
        const marks::RankingRow& row = m_rows[i];
        bool whole = false;
        const qint64 amount = row.value.toLongLong(&whole);
        m_table->setItem(i, 0, cell(QString::number(row.rank), Qt::AlignRight));
        m_table->setItem(i, 1, cell(row.code, Qt::AlignLeft));
        m_table->setItem(i, 2, cell(row.name, Qt::AlignLeft));
        m_table->setItem(i, 3, cell(whole ? grouping.toString(amount) : row.value, Qt::AlignRight));
    }
    m_table->resizeColumnToContents(0);
    m_table->resizeColumnToContents(1);
    m_table->resizeColumnToContents(3);
}
