#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTimer>

#include <array>
#include <vector>

// The checkable message list behind both list windows. Rows carry no key: a row is
// addressed by its 1-based position k. Each row has a main text (column 1), five sub-items
// (columns 2 to 6) and a check box. Access to a position or sub-item that does not exist
// raises subscript out of range (9).
//
// Appended rows are part of the list at once: count(), the row accessors and everything that
// walks the list by position see them immediately. The views learn of them in batches: the
// model tells them about all rows appended since the last announcement in one insert, at most
// every announceInterval() milliseconds (a timer on this thread), and whenever announce() is
// called. Until then rowCount() leaves them out and changes to them raise no dataChanged, so a
// view repaints at display rate rather than once per row.
class MessageListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kSubItems = 5;

    explicit MessageListModel(QObject* parent = nullptr);

    // Columns, with captions only.
    void addColumn(const QString& caption);
    int columns() const { return int(m_captions.size()); }
    QString columnCaption(int c) const;  // 1-based

    int count() const { return int(m_rows.size()); }  // every row, announced or not
    int add(const QString& text);  // appends an unchecked row; returns its position
    void clear();

    // Tells the views about the rows appended since the last announcement, at once.
    void announce();
    int announcedCount() const { return m_announced; }
    int announceInterval() const { return m_announceTimer.interval(); }
    void setAnnounceInterval(int ms) { m_announceTimer.setInterval(ms); }

    QString text(int k) const;
    void setText(int k, const QString& text);
    QString subItem(int k, int i) const;  // i = 1..5
    void setSubItem(int k, int i, const QString& text);
    bool isChecked(int k) const;
    void setChecked(int k, bool checked);

    // QAbstractItemModel; rowCount() counts the announced rows only.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // The user set or cleared row k's check box through a view (not emitted for setChecked).
    void itemCheck(int k);
    // Row k has just been appended (before the views are told of it).
    void rowAdded(int k);

private:
    struct Row {
        QString text;
        std::array<QString, kSubItems> subItems;
        bool checked = false;
    };

    Row& row(int k);
    const Row& row(int k) const;
    static void checkSubItem(int i);
    void cellChanged(int k, int column, int role);

    // Twenty announcements a second: new rows still stream in, and a view inserting rows redraws
    // all its visible rows, which at a fetch rate of thousands per second is what the window
    // would spend its time on.
    static constexpr int kAnnounceIntervalMs = 50;

    QStringList m_captions;
    std::vector<Row> m_rows;
    int m_announced = 0;  // rows 1..m_announced are known to the views
    QTimer m_announceTimer;
};
