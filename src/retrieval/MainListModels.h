#pragma once

class EmailCounts;
class MailStore;
class MessageListModel;

// The main window's message list and what belongs to it: the rows, the stored records
// behind them, the count labels and the selection flag RuleCheckDone.
struct MainListModels {
    MessageListModel& list;
    MailStore& store;
    EmailCounts& counts;
    bool& RuleCheckDone;
};
