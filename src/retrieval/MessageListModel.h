#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <array>
#include <vector>

// The checkable message list behind both list windows. Rows carry no key: a row is
// addressed by its 1-based position k. Each row has a main text (column 1), five sub-items
// (columns 2 to 6) and a check box. Access to a position or sub-item that does not exist
// raises subscript out of range (9).
class MessageListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kSubItems = 5;

    explicit MessageListModel(QObject* parent = nullptr);

    // Columns, with captions only.
    void addColumn(const QString& caption);
    int columns() const { return int(m_captions.size()); }
    QString columnCaption(int c) const;  // 1-based

    int count() const { return int(m_rows.size()); }
    int add(const QString& text);  // appends an unchecked row; returns its position
    void clear();

    QString text(int k) const;
    void setText(int k, const QString& text);
    QString subItem(int k, int i) const;  // i = 1..5
    void setSubItem(int k, int i, const QString& text);
    bool isChecked(int k) const;
    void setChecked(int k, bool checked);

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // The user set or cleared row k's check box through a view (not emitted for setChecked).
    void itemCheck(int k);

private:
    struct Row {
        QString text;
        std::array<QString, kSubItems> subItems;
        bool checked = false;
    };

    Row& row(int k);
    const Row& row(int k) const;
    static void checkSubItem(int i);

    QStringList m_captions;
    std::vector<Row> m_rows;
};
