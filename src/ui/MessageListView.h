#pragma once

class QTreeView;
class MessageListModel;

// Makes a tree view the report-style, checkable message list of a list window: no tree
// decoration, unsorted, header clicks ignored, pointer moves reported for the hover rule.
void setUpMessageListView(QTreeView* view, MessageListModel* model);
