#include "retrieval/MessageListModel.h"

#include "frame/VbError.h"

MessageListModel::MessageListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
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
    const int position = count();
    beginInsertRows(QModelIndex(), position, position);
    m_rows.push_back(Row{text, {}, false});
    endInsertRows();
    return position + 1;
}

void MessageListModel::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
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

QString MessageListModel::text(int k) const { return row(k).text; }

void MessageListModel::setText(int k, const QString& text)
{
    row(k).text = text;
    const QModelIndex cell = index(k - 1, 0);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
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
    const QModelIndex cell = index(k - 1, i);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}

bool MessageListModel::isChecked(int k) const { return row(k).checked; }

void MessageListModel::setChecked(int k, bool checked)
{
    Row& r = row(k);
    if (r.checked == checked)
        return;
    r.checked = checked;
    const QModelIndex cell = index(k - 1, 0);
    Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
}

int MessageListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

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
