#include "ui/MessageListView.h"

#include "retrieval/MessageListModel.h"

#include <QHeaderView>
#include <QTreeView>

void setUpMessageListView(QTreeView* view, MessageListModel* model)
{
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setSortingEnabled(false);
    view->setAllColumnsShowFocus(true);
    view->setModel(model);
    view->header()->setSectionsClickable(false);
    view->header()->setStretchLastSection(false);
    view->setMouseTracking(true);
    view->viewport()->setMouseTracking(true);
}
