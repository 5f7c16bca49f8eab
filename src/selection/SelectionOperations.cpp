#include "selection/SelectionOperations.h"

#include "frame/AppTitle.h"
#include "frame/ErrorTail.h"
#include "frame/EventYield.h"
#include "frame/MessageBoxService.h"
#include "frame/MousePointer.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"

#include <algorithm>
#include <utility>

namespace {
// The searched texts of a row: the row's own text and sub-items 3 and 4.
constexpr int kSubjectSubItem = 3;
constexpr int kReceivedDateSubItem = 4;
} // namespace

SelectionOperations::Window SelectionOperations::mainWindow(const MousePointer& pointer) {
    return Window{QStringLiteral("Form1"), true, &pointer, nullptr};
}

SelectionOperations::Window SelectionOperations::largerWindow(MessageListModel& mainList) {
    return Window{QStringLiteral("Form4"), false, nullptr, &mainList};
}

SelectionOperations::SelectionOperations(MessageListModel& list, EmailCounts& counts, bool& RuleCheckDone,
                                         MessageBoxService& boxes, Window window)
    : m_list(list)
    , m_counts(counts)
    , m_ruleCheckDone(RuleCheckDone)
    , m_boxes(boxes)
    , m_window(std::move(window)) {}

// "Check All". The number of rows is read once: rows removed while the main window yields
// make their positions fail one by one, and the loop still runs to the end.
void SelectionOperations::PushButton5_Click() {
    ErrorTail tail(m_boxes, m_window.name, QStringLiteral("PushButton5_Click"));
    int n = 0;
    tail.line(110, [&] { n = m_list.count(); });
    if (m_window.yieldsInCheckAll) {
        for (int k = 1; k <= n; ++k) {
            tail.line(114, [] { yieldEvents(); });
            tail.line(116, [&] { m_list.setChecked(k, true); });
        }
        tail.line(120, [&] { m_counts.UpdateEmailCounts(false); });
        tail.line(122, [&] { m_ruleCheckDone = false; });
    } else {
        for (int k = 1; k <= n; ++k)
            tail.line(114, [&] { m_list.setChecked(k, true); });
        tail.line(118, [&] { m_counts.UpdateEmailCounts(false); });
        tail.line(120, [&] { m_ruleCheckDone = false; });
    }
}

// "Uncheck All", the same in both windows.
void SelectionOperations::PushButton6_Click() {
    ErrorTail tail(m_boxes, m_window.name, QStringLiteral("PushButton6_Click"));
    int n = 0;
    tail.line(100, [&] { n = m_list.count(); });
    for (int k = 1; k <= n; ++k)
        tail.line(102, [&] { m_list.setChecked(k, false); });
    tail.line(106, [&] { m_counts.UpdateEmailCounts(false); });
    tail.line(108, [&] { m_ruleCheckDone = false; });
}

// "Clear List". The stored messages and the rule-check flag are left alone.
void SelectionOperations::PushButton7_Click() {
    ErrorTail tail(m_boxes, m_window.name, QStringLiteral("PushButton7_Click"));
    if (m_window.alsoClearedList) {
        tail.line(100, [&] { m_list.clear(); });
        tail.line(102, [&] { m_window.alsoClearedList->clear(); });
        tail.line(104, [&] { m_counts.UpdateEmailCounts(true); });
        return;
    }
    tail.line(100, [&] {
        if (!(m_window.busyPointer && m_window.busyPointer->isBusy()))
            m_list.clear();
    });
    tail.line(200, [&] { m_counts.UpdateEmailCounts(true); });
}

void SelectionOperations::PushButton9_Click() {
    ruleCheck(QStringLiteral("PushButton9_Click"), true);
}

void SelectionOperations::PushButton10_Click() {
    ruleCheck(QStringLiteral("PushButton10_Click"), false);
}

void SelectionOperations::ListView1_ItemCheck(int) {
    m_counts.UpdateEmailCounts(false);
}

bool SelectionOperations::textContains(const QString& text, const QString& lowerX) {
    if (text.isEmpty())
        return false;
    // Most header texts are ASCII, whose lower case is one letter for one: they are searched
    // lowered letter by letter, without making a lowered copy of every text of every row.
    const char16_t* const begin = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = begin + text.size();
    if (std::all_of(begin, end, [](char16_t c) { return c < 0x80; })) {
        const auto lowered = [](char16_t c) {
            return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
        };
        const char16_t* const xBegin = reinterpret_cast<const char16_t*>(lowerX.constData());
        return std::search(begin, end, xBegin, xBegin + lowerX.size(),
                           [&](char16_t c, char16_t x) { return lowered(c) == x; }) != end ||
               lowerX.isEmpty();
    }
    return text.toLower().contains(lowerX);
}

bool SelectionOperations::rowContains(int k, const QString& lowerX) const {
    return textContains(m_list.text(k), lowerX) || textContains(m_list.subItem(k, kSubjectSubItem), lowerX) ||
           textContains(m_list.subItem(k, kReceivedDateSubItem), lowerX);
}

// The two rule checks. While RuleCheckDone is false each visited row is cleared before it is
// tested; the first matching row turns the flag true, so from there on the pass only adds
// checks. Row positions are 32-bit: lists of any length the list can hold are walked whole.
void SelectionOperations::ruleCheck(const QString& handler, bool containing) {
    ErrorTail tail(m_boxes, m_window.name, handler);
    int n = 0;
    tail.line(110, [&] { n = m_list.count(); });
    QString x;
    tail.line(112, [&] { x = m_boxes.inputBox(QStringLiteral("Enter X:"), AppTitle::current(), QString()); });
    const QString lowerX = x.toLower();
    for (int k = 1; k <= n; ++k) {
        tail.line(116, [&] {
            if (!m_ruleCheckDone)
                m_list.setChecked(k, false);
        });
        // A failing test enters the branch, as every failing branch condition does.
        if (tail.condition(118, [&] { return rowContains(k, lowerX) == containing; })) {
            tail.line(120, [&] { m_list.setChecked(k, true); });
            tail.line(122, [&] { m_ruleCheckDone = true; });
        }
    }
    tail.line(126, [&] { m_counts.UpdateEmailCounts(false); });
}
