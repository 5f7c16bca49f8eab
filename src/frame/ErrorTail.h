#pragma once

#include "frame/MessageBoxService.h"
#include "frame/VbError.h"

#include <QString>

#include <exception>
#include <utility>

// The standard error handling of a handler with numbered statements. Each statement runs
// through line(n, ...): a failure inside it shows the "Application Error" box naming the
// window, the handler and the statement number, and the handler then goes on with the
// next statement. A handler therefore never stops at an error.
//
//     ErrorTail tail(boxes, "Form1", "Form_Load");
//     tail.line(100, [&] { checkConnection(); });
//     if (tail.condition(160, [&] { return readInt("StayConnected") != 0; })) { ... }
class ErrorTail {
public:
    ErrorTail(MessageBoxService& boxes, QString window, QString handler);

    // Runs one numbered statement.
    template <class Statement> void line(int number, Statement&& statement)
    {
        try {
            std::forward<Statement>(statement)();
        } catch (const VbError& error) {
            report(number, error.description());
        } catch (const std::exception& error) {
            report(number, QString::fromLocal8Bit(error.what()));
        }
    }

    // Runs the numbered condition of a branch. When it fails, execution resumes with the
    // first statement inside the branch, so the result is then true.
    template <class Condition> bool condition(int number, Condition&& condition)
    {
        try {
            return std::forward<Condition>(condition)();
        } catch (const VbError& error) {
            report(number, error.description());
        } catch (const std::exception& error) {
            report(number, QString::fromLocal8Bit(error.what()));
        }
        return true;
    }

    // Shows the box for a failure at statement `number`.
    void report(int number, const QString& description);

    const QString& location() const { return m_location; }

    // "in Tessaline2021/08/31.<window>.<handler> "
    static QString locationText(const QString& window, const QString& handler);
    static QString message(const QString& description, const QString& location, int number);
    static const QString& supportAddress();

private:
    MessageBoxService& m_boxes;
    QString m_location;
};
