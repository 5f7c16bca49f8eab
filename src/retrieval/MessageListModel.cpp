#include "retrieval/MessageListModel.h"

#include "frame/VbError.h"

MessageListModel::MessageListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    m_announceTimer.setSingleShot(true);
    m_announceTimer.setInterval(kAnnounceIntervalMs);
    connect(&m_announceTimer, &QTimer::timeout, this, &MessageListModel::announce);
}

void MessageListModel::addColumn(const QString& caption)
{
    const int c = columns();
    beginInsertColumns(QModelIndex(), c, c);
    m_captions.append(caption);
    endInsertColumns();
}

QString MessageListModel::columnCaption(int c) const
{
    if (c < 1 || c > columns())
        throw VbError::subscriptOutOfRange();
    return m_captions.at(c - 1);
}

int MessageListModel::add(const QString& text)
{
    m_rows.push_back(Row{text, {}, false});
    if (!m_announceTimer.isActive())
        m_announceTimer.start();
    Q_EMIT rowAdded(count());
    return count();
}

void MessageListModel::announce()
{
    m_announceTimer.stop();
    if (m_announced == count())
        return;
    beginInsertRows(QModelIndex(), m_announced, count() - 1);
    m_announced = count();
    endInsertRows();
}

void MessageListModel::clear()
{
    m_announceTimer.stop();
    if (m_rows.empty())
        return;
    if (m_announced == 0) {
        // No view has seen any of them.
        m_rows.clear();
        m_rows.shrink_to_fit();
        return;
    }
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_announced = 0;
    endResetModel();
}

MessageListModel::Row& MessageListModel::row(int k)
{
    if (k < 1 || k > count())
        throw VbError::subscriptOutOfRange();
    return m_rows[size_t(k - 1)];
}

const MessageListModel::Row& MessageListModel::row(int k) const
{
    if (k < 1 || k > count())
        throw VbError::subscriptOutOfRange();
    return m_rows[size_t(k - 1)];
}

void MessageListModel::checkSubItem(int i)
{
    if (i < 1 || i > kSubItems)
        throw VbError::subscriptOutOfRange();
}

void MessageListModel::cellChanged(int k, int column, int role)
{
    // A row the views do not know yet is read in full when it is announced.
    if (k > m_announced)
        return;
    const QModelIndex cell = index(k - 1, column);
    Q_EMIT dataChanged(cell, cell, {role});
}

QString MessageListModel::text(int k) const { return row(k).text; }

void MessageListModel::setText(int k, const QString& text)
{
    row(k).text = text;
    cellChanged(k, 0, Qt::DisplayRole);
}

QString MessageListModel::subItem(int k, int i) const
{
    checkSubItem(i);
    return row(k).subItems[size_t(i - 1)];
}

void MessageListModel::setSubItem(int k, int i, const QString& text)
{
    checkSubItem(i);
    row(k).subItems[size_t(i - 1)] = text;
    cellChanged(k, i, Qt::DisplayRole);
}

bool MessageListModel::isChecked(int k) const { return row(k).checked; }

void MessageListModel::setChecked(int k, bool checked)
{
    Row& r = row(k);
    if (r.checked == checked)
        return;
    r.checked = checked;
    cellChanged(k, 0, Qt::CheckStateRole);
}

int MessageListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_announced; }

int MessageListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns(); }

QVariant MessageListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& r = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return index.column() == 0 ? r.text : r.subItems[size_t(index.column() - 1)];
    case Qt::CheckStateRole:
        if (index.column() == 0)
            return r.checked ? Qt::Checked : Qt::Unchecked;
        return {};
    default:
        return {};
    }
}

bool MessageListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != 0
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    Row& r = m_rows[size_t(index.row())];
    if (r.checked != checked) {
        r.checked = checked;
        Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    }
    Q_EMIT itemCheck(index.row() + 1);
    return true;
}

Qt::ItemFlags MessageListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < columns())
        return m_captions.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}
