// The main window's views: the narrow interfaces through which the subsystems' handlers read
// and set its controls, each a one-line adapter.
#include "ui/Form1.h"

#include "mail/ImapClient.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "ui/Form4.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeView>

QString Form1::text1() const
{
    return Text1->text();
}

void Form1::setText1(const QString& text)
{
    Text1->setText(text);
}

void Form1::selectAllText1()
{
    Text1->setSelection(0, int(Text1->text().size()));
}

QString Form1::text2() const
{
    return Text2->text();
}

void Form1::setText2(const QString& text)
{
    Text2->setText(text);
}

void Form1::selectAllText2()
{
    Text2->setSelection(0, int(Text2->text().size()));
}

bool Form1::check1() const
{
    return Check1->isChecked();
}

void Form1::setCheck1(bool checked)
{
    Check1->setChecked(checked);
}

bool Form1::check2() const
{
    return Check2->isChecked();
}

void Form1::setCheck2(bool checked)
{
    Check2->setChecked(checked);
}

void Form1::setCheck2Enabled(bool enabled)
{
    Check2->setEnabled(enabled);
}

QString Form1::combo1Text() const
{
    return Combo1->currentText();
}

int Form1::combo1Index() const
{
    return Combo1->currentIndex();
}

int Form1::combo1Count() const
{
    return Combo1->count();
}

void Form1::setCombo1Index(int index)
{
    Combo1->setCurrentIndex(index);
}

void Form1::addCombo1Entry(const QString& entry)
{
    const QSignalBlocker quiet(Combo1);
    Combo1->addItem(entry);
    Combo1->setCurrentIndex(-1);
}

namespace {
QRadioButton* folderOption(const Form1& f, int number)
{
    switch (number) {
    case 3:
        return f.Option3;
    case 5:
        return f.Option5;
    case 6:
        return f.Option6;
    case 7:
        return f.Option7;
    case 9:
        return f.Option9;
    default:
        return nullptr;
    }
}
} // namespace

bool Form1::option(int number) const
{
    const QRadioButton* option = folderOption(*this, number);
    return option && option->isChecked();
}

void Form1::setOption(int number, bool selected)
{
    QRadioButton* option = folderOption(*this, number);
    if (!option || option->isChecked() == selected)
        return;
    if (selected) {
        option->setChecked(true);
        return;
    }
    // Clearing the selected button of an exclusive group needs the exclusivity lifted for a moment.
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

void Form1::setProgressText(const QString& text)
{
    ProgressBar1->setFormat(text);
    // Assistive technology does not read a bar's text by itself.
    ProgressBar1->setAccessibleDescription(text);
}

QString Form1::progressText() const
{
    return ProgressBar1->format();
}

void Form1::setProgressValue(int value)
{
    ProgressBar1->setValue(value);
}

void Form1::setProgressMaximum(int maximum)
{
    ProgressBar1->setMaximum(maximum);
}

QPushButton* Form1::stepButton(StepButton button) const
{
    switch (button) {
    case StepButton::PushButton1:
        return PushButton1;
    case StepButton::PushButton2:
        return PushButton2;
    case StepButton::PushButton3:
        return PushButton3;
    }
    return nullptr;
}

QString Form1::caption(StepButton button) const
{
    return stepButton(button)->text();
}

void Form1::setCaption(StepButton button, const QString& caption)
{
    stepButton(button)->setText(caption);
}

void Form1::setButtonVisible(StepButton button, bool visible)
{
    stepButton(button)->setVisible(visible);
}

void Form1::setButtonWidthTwips(StepButton button, int twips)
{
    setWidthTwips(stepButton(button), twips);
}

QWidget* Form1::countLabel(int number)
{
    return number == 1 ? Label1 : Label2;
}

void Form1::addListColumn(const QString& caption)
{
    m_list->addColumn(caption);
}

void Form1::setListColumnWidthTwips(int column, int twips)
{
    ListView1->header()->resizeSection(column, Twips::toPx(twips));
}

void Form1::clearList()
{
    m_list->clear();
}

void Form1::repaintList()
{
    ListView1->viewport()->update();
}

void Form1::createImapComponent()
{
    ImapComponent = new ImapClient(this);
}

void Form1::updateEmailCounts(bool resetToZero)
{
    m_counts->UpdateEmailCounts(resetToZero);
}

void Form1::clickConnect()
{
    m_connection->PushButton1_Click();
}

QString Form1::filterText() const
{
    return txtSearch->text();
}

void Form1::setListSortingEnabled(bool enabled)
{
    ListView1->setSortingEnabled(enabled);
}

std::unique_ptr<LargerListWindow> Form1::loadLargerListWindow()
{
    return std::make_unique<Form4>(this, *m_list, *services.boxes);
}
